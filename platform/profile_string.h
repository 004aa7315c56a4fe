// GetPrivateProfileStringA: one value of a Windows INI file, read afresh on each call, with the
// rules of the Win32 reader: names without regard to case, blanks and one pair of enclosing
// quotes dropped, absent key or file gives the default, present-but-empty gives empty, at most
// bufferSize - 1 characters.
//
// The Windows build calls GetPrivateProfileStringA itself. On Linux the stand-in in
// platform/linux/ applies the Win32 reader's rules as follows (the rule tests in tests/config/ run
// against both):
// - Lines end at CR, LF or CR LF. Blank lines are skipped; so are lines starting with ';'
//   (comments). A ';' later in a line is part of the name or value.
// - "[name]" opens a section; blanks inside the brackets are dropped, text after the first ']'
//   is ignored, and a missing ']' ends the name at the line end. Lines before the first section
//   belong to no named section.
// - "name=value": blanks (space, tab, vertical tab) around the name and the value are dropped.
//   A line without '=' is not a key.
// - Only the first section of a name counts, and in it the first key of a name.
// - The caller's section and key names lose their leading and trailing spaces (not tabs); an
//   empty key, or one starting with ';', is never found. The default loses trailing spaces only.
// - A file that starts with the UTF-16 LE byte-order mark is read as UTF-16 (returned as UTF-8,
//   this host's text; Windows returns it in the ANSI code page). A UTF-8 byte-order mark is not
//   recognised: it is read as text, so a section header on the first line is not seen.
// - A file that is not text (a NUL byte near its start, UTF-16 BE), is not a regular file or
//   cannot be read counts as absent. Memory stays bounded for any file or line length.
//
// Results: the value, or the default; never an error.
// Thread rule: safe from any thread.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

constexpr size_t ProfileBufferSize = 128;

std::string getPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue, const std::string& path,
                                    size_t bufferSize = ProfileBufferSize);

// False when the file counts as absent for the reader (missing, not a regular file, unreadable;
// on Linux also not text).
bool profileFileReadable(const std::string& path);

}  // namespace platform
