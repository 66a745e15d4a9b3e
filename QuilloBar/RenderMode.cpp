#include "QuilloBar/HeadlessModes.h"
#include "kit/DisplayRenderer.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>

namespace quillo {
namespace {

struct RenderRequest {
    std::filesystem::path pdf;
    std::filesystem::path output;
    DisplayModel model;
};

int fail(const std::string& description) {
    std::fprintf(stderr, "Could not render display frame: %s\n", description.c_str());
    return 1;
}

std::optional<QString> stringMember(const QJsonObject& object, QLatin1StringView key) {
    const QJsonValue value = object.value(key);
    if (!value.isString()) {
        return std::nullopt;
    }
    return value.toString();
}

std::filesystem::path filePath(const QString& path) {
    return std::filesystem::path(path.toStdString());
}

// Every malformed request reads as an invalid issue, like a PDF that fails the
// page check: the keys are looked at in the order pdf, output, model.
std::optional<RenderRequest> renderRequest(const QJsonDocument& document) {
    if (!document.isObject()) {
        return std::nullopt;
    }
    const QJsonObject object = document.object();
    const auto pdf = stringMember(object, QLatin1StringView("pdf"));
    if (!pdf) {
        return std::nullopt;
    }
    const auto output = stringMember(object, QLatin1StringView("output"));
    if (!output) {
        return std::nullopt;
    }
    const auto rawModel = stringMember(object, QLatin1StringView("model"));
    if (!rawModel) {
        return std::nullopt;
    }
    const auto model = displayModelFromRaw(rawModel->toStdString());
    if (!model) {
        return std::nullopt;
    }
    return RenderRequest{filePath(*pdf), filePath(*output), *model};
}

} // namespace

int runRenderMode() {
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(readAllStandardInput(), &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        return fail(parseError.errorString().toStdString());
    }
    const auto request = renderRequest(document);
    if (!request) {
        return fail(std::string(DisplayError(DisplayError::invalidPDF).errorDescription()));
    }
    try {
        DisplayRenderer::render(request->pdf, request->output, request->model);
    } catch (const std::exception& error) {
        return fail(error.what());
    }
    std::fputs("Rendered local 1-bit front-page image. No upload or print.\n", stdout);
    return 0;
}

} // namespace quillo
