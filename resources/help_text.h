// The text the help button shows.
#pragma once

extern const char helpText[];
extern const char helpCaption[];
