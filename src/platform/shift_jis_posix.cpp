// Shift_JIS text (the host's code page, in which the module's messages and labels
// are written) as UTF-8, for the stand-ins that show it on Linux.
#include <iconv.h>

#include <string>

#include "platform/platform.h"

std::string shiftJisToUtf8(const char *text) {
    std::string in(text ? text : "");
    iconv_t cd = iconv_open("UTF-8", "CP932");
    if (cd == reinterpret_cast<iconv_t>(-1)) return in;
    std::string out(in.size() * 3 + 4, '\0');
    char *src = in.data();
    std::size_t srcLeft = in.size();
    char *dst = out.data();
    std::size_t dstLeft = out.size();
    while (srcLeft > 0) {
        if (iconv(cd, &src, &srcLeft, &dst, &dstLeft) != static_cast<std::size_t>(-1)) break;
        // An undecodable byte is shown as '?' rather than dropping the rest of the text.
        if (dstLeft == 0) break;
        *dst++ = '?';
        --dstLeft;
        ++src;
        --srcLeft;
    }
    iconv_close(cd);
    out.resize(out.size() - dstLeft);
    return out;
}
