#include "tests/support/written_frames.h"

#include "tests/support/media_probe.h"

#include <sys/stat.h>

namespace {

std::string listed(const std::vector<int64_t>& positions)
{
    std::string text;
    for (int64_t position : positions)
        text += " " + std::to_string(position);
    return text.empty() ? " none" : text;
}

} // namespace

std::string closedFileProblems(const std::string& path, const std::vector<int64_t>& written, AviState state)
{
    struct stat info {};
    if (written.empty() && stat(path.c_str(), &info) == 0 && info.st_size == 0)
        return "";
    const AviCheck check = checkAvi(path, state);
    std::string problems = check.report();
    if (check.framePositions() != written)
        problems += "the header and indexes describe frames at" + listed(check.framePositions()) + "\n";
    std::string error;
    std::vector<int64_t> read;
    for (const ProbedPacket& packet : demuxPackets(path, &error)) {
        if (packet.size > 0)
            read.push_back(packet.pts);
    }
    if (read != written)
        problems += "ffmpeg reads frames at" + listed(read) + " " + error + "\n";
    if (!problems.empty())
        problems += "written:" + listed(written) + "\n";
    return problems;
}
