#include "manufacturers.h"

#include <array>
#include <cstdio>

namespace qx4dump {
namespace {

struct Maker {
    uint8_t code;
    const char* name;
};

constexpr std::array kMakers{
    Maker{0x01, "Motorola"},
    Maker{0x02, "STMicroelectronics"},
    Maker{0x03, "Hitachi"},
    Maker{0x04, "NXP Semiconductors"},
    Maker{0x05, "Infineon Technologies"},
    Maker{0x06, "Cylink"},
    Maker{0x07, "Texas Instruments"},
    Maker{0x08, "Fujitsu"},
    Maker{0x09, "Matsushita Electronics"},
    Maker{0x0A, "NEC"},
    Maker{0x0B, "Oki Electric"},
    Maker{0x0C, "Toshiba"},
    Maker{0x0D, "Mitsubishi Electric"},
    Maker{0x0E, "Samsung Electronics"},
    Maker{0x0F, "Hynix"},
    Maker{0x10, "LG Semiconductors"},
    Maker{0x11, "Emosyn-EM Microelectronics"},
    Maker{0x12, "INSIDE Technology"},
    Maker{0x13, "ORGA Kartensysteme"},
    Maker{0x14, "Sharp"},
    Maker{0x15, "Atmel"},
    Maker{0x16, "EM Microelectronic-Marin"},
    Maker{0x17, "KSW Microtec"},
    Maker{0x18, "ZMD"},
    Maker{0x19, "Xicor"},
    Maker{0x1A, "Sony"},
    Maker{0x1B, "Malaysia Microelectronic Solutions"},
    Maker{0x1C, "Emosyn"},
    Maker{0x1D, "Shanghai Fudan Microelectronics"},
    Maker{0x1E, "Magellan Technology"},
    Maker{0x1F, "Melexis"},
    Maker{0x20, "Renesas Technology"},
    Maker{0x21, "TAGSYS"},
    Maker{0x22, "Transcore"},
    Maker{0x23, "Shanghai Belling"},
    Maker{0x24, "Masktech"},
    Maker{0x25, "Innovision Research and Technology"},
    Maker{0x26, "Hitachi ULSI Systems"},
    Maker{0x27, "Yubico"},
    Maker{0x28, "Ricoh"},
    Maker{0x29, "ASK"},
    Maker{0x2A, "Unicore Microsystems"},
    Maker{0x2B, "Dallas Semiconductor/Maxim"},
    Maker{0x2C, "Impinj"},
    Maker{0x2D, "RightPlug Alliance"},
    Maker{0x2E, "Broadcom"},
    Maker{0x2F, "MStar Semiconductor"},
    Maker{0x30, "BeeDar Technology"},
    Maker{0x31, "RFIDsec"},
    Maker{0x32, "Schweizer Electronic"},
    Maker{0x33, "AMIC Technology"},
    Maker{0x34, "Mikron"},
    Maker{0x35, "Fraunhofer IPMS"},
    Maker{0x36, "IDS Microchip"},
    Maker{0x37, "Kovio"},
    Maker{0x38, "HMT Microelectronic"},
    Maker{0x39, "Silicon Craft Technology"},
    Maker{0x3A, "Advanced Film Device"},
    Maker{0x3B, "Nitecrest"},
    Maker{0x3C, "Verayo"},
    Maker{0x3D, "HID Global"},
    Maker{0x3E, "Productivity Engineering"},
    Maker{0x3F, "Austriamicrosystems"},
};

constexpr std::array kInfoFlags{
    InfoFlag{0x01, "dsfid", "DSFID"},
    InfoFlag{0x02, "afi", "AFI"},
    InfoFlag{0x04, "memorySize", "memory size"},
    InfoFlag{0x08, "icReference", "IC reference"},
};

} // namespace

const char* ManufacturerName(uint8_t code) {
    for (const Maker& maker : kMakers)
        if (maker.code == code) return maker.name;
    return nullptr;
}

const char* ManufacturerOf(const Uid& uid) {
    return uid[7] == 0xE0 ? ManufacturerName(Manufacturer(uid)) : nullptr;
}

std::string ManufacturerText(const Uid& uid) {
    char code[8];
    std::snprintf(code, sizeof code, "0x%02X", Manufacturer(uid));
    if (uid[7] != 0xE0) return "unknown (the UID does not start with E0)";
    const char* name = ManufacturerName(Manufacturer(uid));
    return std::string(name ? name : "unknown") + " (" + code + ")";
}

std::span<const InfoFlag> InfoFlags() {
    return kInfoFlags;
}

} // namespace qx4dump
