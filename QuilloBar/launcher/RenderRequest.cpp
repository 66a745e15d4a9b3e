#include "QuilloBar/launcher/RenderRequest.h"

#include <algorithm>
#include <nlohmann/json.hpp>

namespace quillo {
namespace {

using Json = nlohmann::json;

// The parser's messages start with an identifier for programs
// ("[json.exception.parse_error.101] "); the reader gets what follows it.
std::string description(const Json::exception& error) {
    std::string_view text = error.what();
    const auto end = text.find("] ");
    if (text.starts_with('[') && end != std::string_view::npos) {
        text.remove_prefix(end + 2);
    }
    return std::string(text);
}

const char* literalName(const Json& value) {
    if (value.is_string()) {
        return "string literal";
    }
    if (value.is_boolean()) {
        return value.get<bool>() ? "true literal" : "false literal";
    }
    return value.is_null() ? "null literal" : "number literal";
}

// Standard JSON allows a bare scalar at top level, which a request never is:
// reported in the parser's own words, at the scalar's position.
std::string scalarAtTopLevel(std::string_view input, const Json& value) {
    const std::size_t bom = input.starts_with("\xEF\xBB\xBF") ? 3 : 0;
    const auto start = std::min(input.find_first_not_of(" \t\r\n", bom), input.size());
    const auto before = input.substr(0, start);
    const auto line = 1 + std::count(before.begin(), before.end(), '\n');
    const auto lineStart = before.rfind('\n');
    const auto column = lineStart == std::string_view::npos ? start + 1 : start - lineStart;
    return "parse error at line " + std::to_string(line) + ", column " + std::to_string(column) +
           ": syntax error while parsing value - unexpected " + literalName(value) +
           "; expected '[' or '{'";
}

const std::string* stringMember(const Json& object, const char* key) {
    const auto member = object.find(key);
    return member != object.end() ? member->get_ptr<const std::string*>() : nullptr;
}

} // namespace

RenderRequestReading readRenderRequest(std::string_view input) {
    Json document;
    try {
        document = Json::parse(input.begin(), input.end());
    } catch (const Json::exception& error) {
        return {RenderRequestParse::notJson, {}, description(error)};
    }
    if (document.is_primitive()) {
        return {RenderRequestParse::notJson, {}, scalarAtTopLevel(input, document)};
    }
    if (!document.is_object()) {
        return {};
    }
    const std::string* pdf = stringMember(document, "pdf");
    if (pdf == nullptr) {
        return {};
    }
    const std::string* output = stringMember(document, "output");
    if (output == nullptr) {
        return {};
    }
    const std::string* rawModel = stringMember(document, "model");
    const auto model = rawModel != nullptr ? displayModelFromRaw(*rawModel) : std::nullopt;
    if (!model) {
        return {};
    }
    return {RenderRequestParse::valid, {*pdf, *output, *model}, {}};
}

} // namespace quillo
