// One check-and-deliver pass through the companion tool, apart from the
// delegate that starts it: a settings snapshot in, one result line out.
#pragma once

#include "kit/DeliveryKit.h"

#include <QString>
#include <chrono>
#include <optional>

namespace quillo {

// Taken on the main thread when a run starts and handed over by value, so a
// settings change during a run takes effect at the next one.
struct RunSettings {
    QString origin;
    QString deliveryKey;
    QString toolPath;
    // The program whose render mode draws display frames (bin/quillo-bar).
    QString rendererPath;
    DeliveryDestination destination = DeliveryDestination::printer;
    int pageCount = 3;
    bool delivery = false;
    bool automatic = false;
    QString printer;
    DisplayModel displayModel = DisplayModel::og;
    std::optional<QString> webhook;
};

// A tool step that runs longer is killed, so a hung tool cannot block every
// later run for as long as the agent lives.
inline constexpr std::chrono::milliseconds toolStepTimeLimit = std::chrono::minutes(10);

// What a step reports when it was killed at that limit.
inline constexpr QLatin1StringView toolTimeoutMessage{
    "quillo-print did not finish within 10 minutes"};

// The frame beside the issue: the PDF's last extension replaced by
// "display.png" (/feeds/a/issue-12.pdf gives /feeds/a/issue-12.display.png).
QString displayFramePath(const QString& pdf);
// Where the settings window's preview of the frame goes, apart from the
// delivered frame.
QString previewFramePath(const QString& pdf);

// A renderer that takes longer is killed: a frame takes a few tens of
// milliseconds, and a PDF made to loop costs one frame, not a run.
inline constexpr std::chrono::milliseconds renderTimeLimit = std::chrono::minutes(1);

// Draws the front page of `pdf` into the 1-bit frame `frame` through render
// mode in a child process, which holds no secret: a PDF that crashes MuPDF
// costs one frame. Nothing on success; otherwise the renderer's description
// of the failure (DisplayError's text when it gave none).
std::optional<QString> renderDisplayFrame(const QString& renderer, const QString& pdf,
                                          const QString& frame, DisplayModel model,
                                          std::chrono::milliseconds timeLimit = renderTimeLimit);

// What the check step prints on success. A member of the wrong JSON type
// counts as absent.
struct CheckResult {
    std::optional<QString> state;
    std::optional<QString> issue;
    std::optional<QString> pdf;
};

// Nothing when the output is not JSON or its top level is not an object.
std::optional<CheckResult> readCheckResult(const QString& output);

// Runs the check and, for a delivering run, the print and display steps, and
// returns the run's result line. Every failure becomes the line; never throws.
// Blocks while the tool and the renderer work: call it off the main thread.
QString performRun(const RunSettings& settings,
                   std::chrono::milliseconds stepTimeLimit = toolStepTimeLimit);

} // namespace quillo
