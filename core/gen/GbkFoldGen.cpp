// SPDX-License-Identifier: MIT
// Writes the case-fold table of code page 936's double-byte letters, run at build time: every double-byte
// character whose Unicode upper case is a different character that is again a double-byte character of the
// code page. The code page is read through glibc's iconv (GB18030, whose two-byte range is the code page) and the
// case through Qt's Unicode tables, so the table follows the codec instead of a list typed by hand.

#include <QChar>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iconv.h>
#include <string>
#include <vector>

namespace {

struct TConverter
{
    iconv_t cd;
    TConverter(const char* to, const char* from)
        : cd(iconv_open(to, from))
    {
    }
    ~TConverter()
    {
        if (cd != reinterpret_cast<iconv_t>(-1)) {
            iconv_close(cd);
        }
    }
    TConverter(const TConverter&) = delete;
    TConverter& operator=(const TConverter&) = delete;

    // Converts the whole input; the number of output bytes, or -1 when the input is no complete text.
    long run(const void* in, size_t inLength, void* out, size_t outCapacity) const
    {
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        auto* inPtr = const_cast<char*>(static_cast<const char*>(in));
        auto* outPtr = static_cast<char*>(out);
        size_t inLeft = inLength;
        size_t outLeft = outCapacity;
        if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1) || inLeft != 0) {
            return -1;
        }
        return static_cast<long>(outCapacity - outLeft);
    }
};

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output file>\n", argv[0]);
        return 2;
    }
    const TConverter decoder("UTF-32LE", "GB18030");
    const TConverter encoder("GB18030", "UTF-32LE");
    if (decoder.cd == reinterpret_cast<iconv_t>(-1) || encoder.cd == reinterpret_cast<iconv_t>(-1)) {
        std::fprintf(stderr, "%s: iconv has no GB18030: %s\n", argv[0], std::strerror(errno));
        return 1;
    }
    std::vector<unsigned> pairs; // (code << 16) | upper-case code
    for (unsigned lead = 0x81; lead <= 0xFE; ++lead) {
        for (unsigned trail = 0x40; trail <= 0xFE; ++trail) {
            if (trail == 0x7F) {
                continue;
            }
            const unsigned char bytes[2] = {static_cast<unsigned char>(lead), static_cast<unsigned char>(trail)};
            unsigned char utf32[8] = {};
            if (decoder.run(bytes, 2, utf32, sizeof utf32) != 4) {
                continue;
            }
            const char32_t c =
                char32_t(utf32[0]) | char32_t(utf32[1]) << 8 | char32_t(utf32[2]) << 16 | char32_t(utf32[3]) << 24;
            const char32_t upper = QChar::toUpper(c);
            if (upper == c) {
                continue;
            }
            const unsigned char upperUtf32[4] = {static_cast<unsigned char>(upper & 0xFF),
                static_cast<unsigned char>(upper >> 8 & 0xFF),
                static_cast<unsigned char>(upper >> 16 & 0xFF),
                static_cast<unsigned char>(upper >> 24)};
            unsigned char upperBytes[8] = {};
            // Only a double-byte result is a letter of the code page; a four-byte one lies outside it.
            if (encoder.run(upperUtf32, 4, upperBytes, sizeof upperBytes) != 2) {
                continue;
            }
            pairs.push_back((lead << 8 | trail) << 16 | (unsigned(upperBytes[0]) << 8 | upperBytes[1]));
        }
    }
    if (pairs.empty()) {
        std::fprintf(stderr, "%s: no letters with case found; the codec is broken\n", argv[0]);
        return 1;
    }
    // Written beside the target and renamed, so a failed run never leaves a cut table that looks up to date.
    const std::string target = argv[1];
    const std::string temporary = target + ".tmp";
    FILE* out = std::fopen(temporary.c_str(), "w");
    if (!out) {
        std::fprintf(stderr, "%s: cannot write %s: %s\n", argv[0], temporary.c_str(), std::strerror(errno));
        return 1;
    }
    std::fprintf(out, "// Generated at build time by GbkFoldGen: double-byte character, its upper case.\n");
    std::fprintf(out, "static constexpr unsigned short GbkUpperPairs[][2] = {\n");
    for (const unsigned p : pairs) {
        std::fprintf(out, "    {0x%04X, 0x%04X},\n", p >> 16, p & 0xFFFF);
    }
    std::fprintf(out, "};\n");
    if (std::fclose(out) != 0 || std::rename(temporary.c_str(), target.c_str()) != 0) {
        std::fprintf(stderr, "%s: writing %s failed\n", argv[0], target.c_str());
        std::remove(temporary.c_str());
        return 1;
    }
    return 0;
}
