// Texts handed across the C interfaces of libqx4dump: allocated with malloc, freed by
// the caller through the library's own free function.
#pragma once

#include <cstdlib>
#include <cstring>
#include <string>

namespace qx4ndef {

inline char* Copy(const std::string& text) {
    char* out = static_cast<char*>(std::malloc(text.size() + 1));
    if (out) std::memcpy(out, text.c_str(), text.size() + 1);
    return out;
}

// A failure: its text into *error (when asked for), and 0 to return.
inline int Fail(char** error, const std::string& text) {
    if (error) *error = Copy(text);
    return 0;
}

} // namespace qx4ndef
