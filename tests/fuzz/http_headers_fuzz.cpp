// Fuzzes the HTTP response header parser: any bytes, no crash, and every
// pair it answers has a non-empty name without a colon or line break and a
// value without surrounding blanks.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/http.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    for (const auto& [name, value] : zan::platform::http::parse_headers(text)) {
        if (name.empty() || name.find_first_of(":\n") != std::string::npos) std::abort();
        if (value.find('\n') != std::string::npos) std::abort();
        if (!value.empty() && (value.front() == ' ' || value.front() == '\t' || value.back() == ' ' ||
                               value.back() == '\r'))
            std::abort();
    }
    return 0;
}
