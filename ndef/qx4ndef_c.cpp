#include "qx4ndef_c.h"

#include "c_text.h"
#include "content_json.h"
#include "record_json.h"

#include <cstdlib>
#include <cstring>

using namespace qx4ndef;

namespace {

ByteView View(const unsigned char* bytes, int length) {
    return length > 0 && bytes ? ByteView(bytes, size_t(length)) : ByteView();
}

std::string Dump(const nlohmann::json& json) {
    return json.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

} // namespace

extern "C" {

int qx4ndef_parse_message(const unsigned char* bytes, int length, char** json, char** error) {
    try {
        *json = Copy(Dump(MessageJson(ParseMessage(View(bytes, length)))));
        return 1;
    } catch (const std::exception& e) {
        return Fail(error, e.what());
    }
}

int qx4ndef_build_message(const char* json, char** hex, char** error) {
    try {
        const auto described = nlohmann::json::parse(json ? json : "", nullptr, false);
        if (described.is_discarded()) return Fail(error, "the records are not valid JSON");
        *hex = Copy(ToHex(BuildMessage(MessageFromJson(described))));
        return 1;
    } catch (const std::exception& e) {
        return Fail(error, e.what());
    }
}

int qx4ndef_parse_memory(const unsigned char* memory, int length, char** json, char** error) {
    try {
        const ByteView view = View(memory, length);
        *json = Copy(Dump(ContentJson(ReadNdef(view, view.size()))));
        return 1;
    } catch (const std::exception& e) {
        return Fail(error, e.what());
    }
}

} // extern "C"
