#pragma once

// True when any option argument, argv[3] onward, holds "/O" once its
// letters are upper-cased: /O, /o, /Overwrite and x/oy all count, -O not.
bool overwrite_requested(int argc, const char *const argv[]);

// True when any option argument, argv[3] onward, is exactly /U or /u:
// the input is read as UTF-8. /UO is not /U.
bool utf8_requested(int argc, const char *const argv[]);

// True when the two names are the same text, ignoring the case of the
// ASCII letters A to Z only. Nothing else is folded or resolved.
bool same_name(const char *a, const char *b);
