// The render request parser: the one piece of render mode that needs Qt. It
// lives in a module that render mode unloads again before it draws, so Qt's
// libraries do not add to the frame's peak memory.
#include "QuilloBar/RenderRequest.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <optional>

namespace quillo {
namespace {

std::optional<std::string> stringMember(const QJsonObject& object, QLatin1StringView key) {
    const QJsonValue value = object.value(key);
    if (!value.isString()) {
        return std::nullopt;
    }
    return value.toString().toStdString();
}

// The keys are looked at in the order pdf, output, model; a member of the
// wrong type counts as missing, and the model's raw value must match exactly.
RenderRequestParse readRequest(const QJsonDocument& document, RenderRequest& request) {
    if (!document.isObject()) {
        return RenderRequestParse::malformed;
    }
    const QJsonObject object = document.object();
    auto pdf = stringMember(object, QLatin1StringView("pdf"));
    if (!pdf) {
        return RenderRequestParse::malformed;
    }
    auto output = stringMember(object, QLatin1StringView("output"));
    if (!output) {
        return RenderRequestParse::malformed;
    }
    const auto rawModel = stringMember(object, QLatin1StringView("model"));
    const auto model = rawModel ? displayModelFromRaw(*rawModel) : std::nullopt;
    if (!model) {
        return RenderRequestParse::malformed;
    }
    request = RenderRequest{std::move(*pdf), std::move(*output), *model};
    return RenderRequestParse::valid;
}

} // namespace
} // namespace quillo

extern "C" Q_DECL_EXPORT quillo::RenderRequestParse
quilloParseRenderRequest(const char* input, std::size_t size, quillo::RenderRequest& request,
                         std::string& failure) {
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(
        QByteArray::fromRawData(input, static_cast<qsizetype>(size)), &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        failure = parseError.errorString().toStdString();
        return quillo::RenderRequestParse::notJson;
    }
    return quillo::readRequest(document, request);
}
