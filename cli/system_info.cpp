#include "system_info.h"

#include <algorithm>

namespace qx4cli {

unsigned char ReadSystemInfo(int requestMode, const unsigned char* uid, SystemInfo& info) {
    unsigned char out[256] = {};
    int length = 0;
    if (!QX4GetSystemInfo(requestMode, out, &length, uid)) return 0;
    // out: flags, UID, then the fields the flags announce, then the frame's ETX.
    const int end = length - 1;
    info.flags = out[0];
    std::copy_n(out + 1, 8, info.uid.begin());
    int p = 9;
    auto take = [&](int count) { return p + count <= end ? (p += count, true) : false; };
    if (info.flags & 0x01 && take(1)) info.dsfid = out[p - 1];
    if (info.flags & 0x02 && take(1)) info.afi = out[p - 1];
    if (info.flags & 0x04 && take(2)) {
        info.blockCount = out[p - 2] + 1;
        info.blockSize = (out[p - 1] & 0x1F) + 1;
    }
    if (info.flags & 0x08 && take(1)) info.icReference = out[p - 1];
    return 1;
}

void ShowSystemInfo(Session& s, const SystemInfo& info) {
    s.Field("uid", UidText(info.uid.data()));
    s.Field("infoFlags", info.flags);
    if (info.dsfid) s.Field("dsfid", *info.dsfid);
    if (info.afi) s.Field("afi", *info.afi);
    if (info.blockCount) s.Field("blockCount", *info.blockCount);
    if (info.blockSize) s.Field("blockSize", *info.blockSize);
    if (info.icReference) s.Field("icReference", *info.icReference);
}

} // namespace qx4cli
