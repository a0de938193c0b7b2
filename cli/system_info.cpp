#include "system_info.h"

namespace qx4cli {

void ShowSystemInfo(Session& s, const qx4dump::SystemInfo& info) {
    s.Field("uid", UidText(info.uid.data()));
    s.Field("infoFlags", info.flags);
    if (info.dsfid) s.Field("dsfid", *info.dsfid);
    if (info.afi) s.Field("afi", *info.afi);
    if (info.blockCount) s.Field("blockCount", *info.blockCount);
    if (info.blockSize) s.Field("blockSize", *info.blockSize);
    if (info.icReference) s.Field("icReference", *info.icReference);
}

} // namespace qx4cli
