// apehost record: renders the built-in animation into a loaded effect and
// records it through the effect's dialog, as a user would.
#pragma once

#include <cstdint>
#include <string>

struct RecordOptions {
    std::string plugin;
    std::string out;
    int width = 320;
    int height = 240;
    int frameRate = 25;
    int hostFps = 60;      // 0: as fast as the host can
    double seconds = 3.0;
    bool raw = false;
    bool virtualClock = false;
    uint64_t segmentSize = 0; // our writer's RIFF segment size; 0 keeps its default
    bool quiet = false;
};

// Reads the arguments after "record"; false with a reason when they do not fit.
bool parseRecordOptions(int argc, char** argv, RecordOptions& options, std::string& error);

int runRecord(const RecordOptions& options);
