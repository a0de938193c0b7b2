#include "system_info.h"

#include "manufacturers.h"

namespace qx4cli {

void ShowSystemInfo(Session& s, const qx4dump::SystemInfo& info) {
    s.Field("uid", UidText(info.uid.data()));
    std::string named;
    nlohmann::json fields = nlohmann::json::object();
    for (const qx4dump::InfoFlag& flag : qx4dump::InfoFlags()) {
        fields[flag.name] = (info.flags & flag.bit) != 0;
        if (info.flags & flag.bit) named += std::string(named.empty() ? "" : ", ") + flag.text;
    }
    s.Field("infoFlags", info.flags,
            HexByte(info.flags) + " (" + (named.empty() ? "none" : named) + ")");
    s.result()["infoFlagFields"] = fields;
    if (const char* maker = qx4dump::ManufacturerOf(info.uid)) s.result()["manufacturer"] = maker;
    s.result()["manufacturerCode"] = qx4dump::Manufacturer(info.uid);
    s.Line("manufacturer: " + qx4dump::ManufacturerText(info.uid));
    if (info.dsfid) s.Field("dsfid", *info.dsfid, HexByte(*info.dsfid));
    if (info.afi) s.Field("afi", *info.afi, HexByte(*info.afi));
    if (info.blockCount) s.Field("blockCount", *info.blockCount);
    if (info.blockSize) s.Field("blockSize", *info.blockSize);
    if (info.icReference) s.Field("icReference", *info.icReference, HexByte(*info.icReference));
}

} // namespace qx4cli
