#include "agent/DeliveryRun.h"

#include "agent/Command.h"
#include "store/Sha256.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <algorithm>
#include <filesystem>

namespace quillo {
namespace {

const QString separator = QStringLiteral(" \u00B7 ");

// A member of the wrong JSON type counts as absent.
std::optional<QString> stringMember(const QJsonObject& object, QLatin1StringView key) {
    const QJsonValue value = object.value(key);
    return value.isString() ? std::optional<QString>(value.toString()) : std::nullopt;
}

CommandResult runTool(const RunSettings& settings, const QStringList& arguments,
                      const CommandEnvironment& environment,
                      std::chrono::milliseconds stepTimeLimit) {
    auto result = command(settings.toolPath, arguments, environment,
                          std::chrono::steady_clock::now() + stepTimeLimit);
    if (result.deadlinePassed) {
        result.exitStatus = 1;
        result.output = toolTimeoutMessage;
    }
    return result;
}

CommandEnvironment serviceEnvironment(const RunSettings& settings) {
    return {{QStringLiteral("QUILLO_URL"), settings.origin},
            {QStringLiteral("QUILLO_PRINT_TOKEN"), settings.deliveryKey}};
}

// The print step. Sets `outcome` on success; otherwise returns the result line.
std::optional<QString> printIssue(const RunSettings& settings, const QString& issue,
                                  const QString& pdf, std::chrono::milliseconds stepTimeLimit,
                                  QString& outcome) {
    QFile file(pdf);
    if (QFileInfo(pdf).isDir() || !file.open(QIODevice::ReadOnly)) {
        return QStringLiteral("Validated PDF is unavailable");
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        return QStringLiteral("Validated PDF is unavailable");
    }
    file.close();

    const QStringList arguments{QStringLiteral("print"),
                                QStringLiteral("--printer"),
                                settings.printer,
                                QStringLiteral("--max-pages"),
                                QString::number(settings.pageCount),
                                QStringLiteral("--expected-issue"),
                                issue,
                                QStringLiteral("--expected-sha256"),
                                sha256Hex(bytes)};
    const auto result = runTool(settings, arguments, serviceEnvironment(settings), stepTimeLimit);
    if (result.exitStatus != 0) {
        return QStringLiteral("Print stopped: ") + result.output.trimmed();
    }
    // A refusal outranks "Already printed" when the output carries both.
    if (result.output.contains(QLatin1StringView("disabled")) ||
        result.output.contains(QLatin1StringView("No issue"))) {
        return QStringLiteral("Print stopped: delivery permission changed");
    }
    outcome = result.output.contains(QLatin1StringView("Already printed"))
                  ? QStringLiteral("Already printed")
                  : QStringLiteral("Sent to print queue");
    return std::nullopt;
}

// The display step: renders the frame beside the PDF and hands it to the tool.
QString displayIssue(const RunSettings& settings, const QString& issue, const QString& pdf,
                     std::chrono::milliseconds stepTimeLimit, QStringList outcomes) {
    const QString prefix = outcomes.isEmpty() ? QString() : outcomes.join(separator) + separator;
    const QString frame = displayFramePath(pdf);
    if (const auto failure = renderDisplayFrame(
            settings.rendererPath, pdf, frame, settings.displayModel,
            std::min<std::chrono::milliseconds>(stepTimeLimit, renderTimeLimit))) {
        return prefix + QStringLiteral("Display render failed: ") + *failure;
    }

    const QStringList arguments{QStringLiteral("sync"),
                                QStringLiteral("--image"),
                                frame,
                                QStringLiteral("--issue"),
                                issue,
                                QStringLiteral("--width"),
                                QString::number(width(settings.displayModel)),
                                QStringLiteral("--height"),
                                QString::number(height(settings.displayModel))};
    // The webhook only: the display step never sees the origin or the key.
    const CommandEnvironment environment{
        {QStringLiteral("QUILLO_EINK_WEBHOOK"), settings.webhook.value_or(QString())}};
    const auto result = runTool(settings, arguments, environment, stepTimeLimit);
    if (result.exitStatus != 0) {
        return prefix + QStringLiteral("Display stopped: ") + result.output.trimmed();
    }
    outcomes.append(result.output.contains(QLatin1StringView("already_synced"))
                        ? QStringLiteral("Display already synced")
                        : QStringLiteral("Uploaded to TRMNL \u00B7 awaiting screen refresh"));
    return outcomes.join(separator);
}

} // namespace

namespace {

QString besideIssue(const QString& pdf, const char* extension) {
    std::filesystem::path path(pdf.toStdString());
    path.replace_extension(extension);
    return QString::fromStdString(path.string());
}

} // namespace

QString displayFramePath(const QString& pdf) {
    return besideIssue(pdf, "display.png");
}

QString previewFramePath(const QString& pdf) {
    return besideIssue(pdf, "preview.png");
}

std::optional<QString> renderDisplayFrame(const QString& renderer, const QString& pdf,
                                          const QString& frame, DisplayModel model,
                                          std::chrono::milliseconds timeLimit) {
    const QJsonObject request{{QStringLiteral("pdf"), pdf},
                              {QStringLiteral("output"), frame},
                              {QStringLiteral("model"), QString::fromLatin1(rawValue(model))}};
    // No entries of its own: the renderer gets no key, no webhook, no origin.
    const auto result = command(renderer, {QStringLiteral("--render-display-stdin")},
                                CommandEnvironment{}, std::chrono::steady_clock::now() + timeLimit,
                                QJsonDocument(request).toJson(QJsonDocument::Compact));
    if (result.exitStatus == 0 && !result.deadlinePassed) {
        return std::nullopt;
    }
    // Render mode's own failure line; a crash, a hang or a program that did
    // not start has none, and reads as a frame that could not be drawn.
    const QLatin1StringView failed("Could not render display frame: ");
    const QString line = result.output.trimmed();
    if (!result.deadlinePassed && line.startsWith(failed) && !line.contains(u'\n')) {
        return line.mid(failed.size());
    }
    return QString::fromUtf8(DisplayError(DisplayError::render).what());
}

std::optional<CheckResult> readCheckResult(const QString& output) {
    const QJsonDocument document = QJsonDocument::fromJson(output.toUtf8());
    if (!document.isObject()) {
        return std::nullopt;
    }
    const QJsonObject object = document.object();
    return CheckResult{stringMember(object, QLatin1StringView("state")),
                       stringMember(object, QLatin1StringView("issue")),
                       stringMember(object, QLatin1StringView("pdf"))};
}

QString performRun(const RunSettings& settings, std::chrono::milliseconds stepTimeLimit) {
    const int pageLimit =
        settings.destination == DeliveryDestination::display ? 4 : settings.pageCount;
    const auto check = runTool(
        settings,
        {QStringLiteral("download"), QStringLiteral("--max-pages"), QString::number(pageLimit)},
        serviceEnvironment(settings), stepTimeLimit);
    if (check.exitStatus != 0) {
        return QStringLiteral("Check failed: ") + check.output.trimmed();
    }
    const auto checked = readCheckResult(check.output);
    if (!checked) {
        return QStringLiteral("Check failed: ") + check.output.trimmed();
    }
    const CheckResult& result = *checked;
    if (result.state == QStringLiteral("disabled")) {
        return QStringLiteral("Enable local delivery in Quillo web preferences");
    }
    if (result.state == QStringLiteral("waiting")) {
        return QStringLiteral("Waiting for your first issue");
    }
    if (!result.issue || !result.pdf) {
        return QStringLiteral("No validated issue available");
    }
    if (!settings.delivery) {
        return QStringLiteral("Latest issue ready \u00B7 automatic delivery ") +
               (settings.automatic ? QStringLiteral("on") : QStringLiteral("off"));
    }

    QStringList outcomes;
    if (prints(settings.destination)) {
        QString outcome;
        if (auto stopped =
                printIssue(settings, *result.issue, *result.pdf, stepTimeLimit, outcome)) {
            return *stopped;
        }
        outcomes.append(outcome);
        if (settings.destination == DeliveryDestination::printer) {
            return outcomes.join(separator);
        }
    }
    return displayIssue(settings, *result.issue, *result.pdf, stepTimeLimit, outcomes);
}

} // namespace quillo
