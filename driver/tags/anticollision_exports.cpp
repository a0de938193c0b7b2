// ISO 15693 inventory and state commands.
#include "tags/tag_request.h"

#include <algorithm>

using namespace qx4;

namespace {

constexpr int kInventoryModeMask = 0xFC; // inventories never carry a UID

unsigned char Inventory(int requestMode, unsigned char* dsfidOut, unsigned char* uidOut) {
    const CommandClaim claim;
    if (!claim || !SendTagRequest(*claim, {.code = iso::Inventory,
                                           .parameters = {},
                                           .requestMode = requestMode & kInventoryModeMask,
                                           .uidField = UidField::Never}))
        return 0;
    if (!ReplyCarries(*claim, 1 + 8)) return 0; // DSFID and UID
    dsfidOut[0] = claim->frame[5];
    std::copy_n(claim->frame.begin() + 6, 8, uidOut);
    return 1;
}

unsigned char StateCommand(uint8_t code, int requestMode, const unsigned char* uid,
                           UidField uidField) {
    const CommandClaim claim = code == iso::StayQuiet ? CommandClaim() : BeginTagExport(uid);
    if (!claim) return 0;
    return SendTagRequest(*claim, {.code = code,
                                   .parameters = {},
                                   .requestMode = requestMode,
                                   .uidField = uidField,
                                   .uid = uid}) &&
                   EchoOnly(*claim)
               ? 1
               : 0;
}

} // namespace

extern "C" {

QX4_API unsigned char QX4Inventory(int requestMode, unsigned char* dsfidOut,
                                   unsigned char* uidOut) {
    return Inventory(requestMode, dsfidOut, uidOut);
}

QX4_API unsigned char QX4InventoryB(int requestMode, unsigned char* dsfidOut,
                                    unsigned char* uidOut) {
    return Inventory(requestMode, dsfidOut, uidOut);
}

QX4_API unsigned char QX4Inventory2(int requestMode, int inventoryParam, unsigned char* countOut) {
    const CommandClaim claim;
    if (!claim || !SendTagRequest(*claim, {.code = iso::ReaderInventory,
                                           .parameters = {},
                                           .requestMode = requestMode & kInventoryModeMask,
                                           .uidField = UidField::Never,
                                           .afterMode = {Low(inventoryParam)}}))
        return 0;
    if (inventoryParam == 0) { // the number of tags found; other parameters read nothing
        if (!ReplyCarries(*claim, 1)) return 0;
        countOut[0] = claim->frame[5];
    }
    return 1;
}

// Stay quiet leaves currentUid alone; its UID comes straight from the caller.
QX4_API unsigned char QX4StayQuiet(int requestMode, const unsigned char* uid) {
    return StateCommand(iso::StayQuiet, requestMode, uid, UidField::Always);
}

QX4_API unsigned char QX4SelectTag(int requestMode, const unsigned char* uid) {
    return StateCommand(iso::Select, requestMode, uid, UidField::Always);
}

QX4_API unsigned char QX4ResetToReady(int requestMode, const unsigned char* uid) {
    return StateCommand(iso::ResetToReady, requestMode, uid, UidField::ByDesignation);
}

} // extern "C"
