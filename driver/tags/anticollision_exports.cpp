// ISO 15693 inventory and state commands.
#include "tags/tag_request.h"

#include <algorithm>

using namespace qx4;

namespace {

constexpr int kInventoryModeMask = 0xFC; // inventories never carry a UID

unsigned char Inventory(int requestMode, unsigned char* dsfidOut, unsigned char* uidOut) {
    ReaderContext* context = Context();
    if (!context) return 0;
    context = SendTagRequest(*context, {.code = iso::Inventory,
                                        .parameters = {},
                                        .requestMode = requestMode & kInventoryModeMask,
                                        .uidField = UidField::Never});
    if (!context || !ReplyCarries(*context, 9)) return 0;
    dsfidOut[0] = context->frame[5];
    std::copy_n(context->frame.begin() + 6, 8, uidOut);
    return 1;
}

unsigned char StateCommand(uint8_t code, int requestMode, const unsigned char* uid,
                           UidField uidField) {
    ReaderContext* context = code == iso::StayQuiet ? Context() : BeginTagExport(uid);
    if (!context) return 0;
    return SendTagRequest(*context, {.code = code,
                                     .parameters = {},
                                     .requestMode = requestMode,
                                     .uidField = uidField,
                                     .uid = uid})
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
    ReaderContext* context = Context();
    if (!context) return 0;
    context = SendTagRequest(*context, {.code = iso::ReaderInventory,
                                        .parameters = {},
                                        .requestMode = requestMode & kInventoryModeMask,
                                        .uidField = UidField::Never,
                                        .afterMode = {Low(inventoryParam)}});
    if (!context) return 0;
    if (inventoryParam == 0) {
        if (!ReplyCarries(*context, 1)) return 0;
        countOut[0] = context->frame[5];
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
