// What the settings window accepts when the reader presses Save, and when
// turning on automatic delivery needs the reader's confirmation. Pure
// functions of the form and the stored settings: no widgets, no writes.
#pragma once

#include "kit/DeliveryKit.h"

#include <QLatin1StringView>
#include <QString>
#include <optional>
#include <variant>

namespace quillo {

class Preferences;

namespace SaveMessage {
inline constexpr QLatin1StringView badOrigin{"Use an HTTPS service address without a path or key"};
inline constexpr QLatin1StringView noPrinter{"Choose a printer, or deliver to e-ink"};
inline constexpr QLatin1StringView badWebhook{"Paste a valid HTTPS TRMNL image webhook"};
inline constexpr QLatin1StringView noKey{"Add or unlock your delivery key"};
inline constexpr QLatin1StringView badKey{"Use the delivery key without spaces or quotes"};
inline constexpr QLatin1StringView previewOnly{
    "Preview only. No settings saved and no device contacted."};
} // namespace SaveMessage

// The form as it stands when Save is pressed, with the secrets held in memory.
struct SaveInput {
    QString origin;
    DeliveryDestination destination = DeliveryDestination::printer;
    DisplayModel display = DisplayModel::og;
    QString webhook;
    QString key;
    int maxPages = 3;
    QString printer;
    bool automatic = false;
    std::optional<QString> heldWebhook;
    std::optional<QString> heldDeliveryKey;
};

// A form that passed every check, ready to be stored.
struct ValidatedSave {
    // Without surrounding blanks and without leading or trailing "/".
    QString origin;
    DeliveryDestination destination = DeliveryDestination::printer;
    DisplayModel display = DisplayModel::og;
    // Trimmed; empty when nothing was typed and the unlocked secret stays in use.
    QString typedWebhook;
    QString typedKey;
    int pageCount = 3;
    // Empty leaves the stored printer as it is.
    QString printer;
    bool automatic = false;
};

// The form's entries a refusal can be about.
enum class FormField { none, key, printer, webhook, origin };

struct SaveRefusal {
    QString message;
    FormField field = FormField::none;
};

// Checks the origin, the printer, the webhook and the key, in that order, and
// reports only the first problem.
std::variant<ValidatedSave, SaveRefusal> checkSave(const SaveInput& input);

// The origin as it is stored, or nothing when it is not a bare HTTPS origin.
std::optional<QString> normalizedOrigin(const QString& text);

// The text without its leading and trailing "/", as an origin is stored by
// the settings window (configure mode stores it as given) and as the feed key
// reads it: the same rule, kit/FeedKey.h's.
QString withoutSurroundingSlashes(const QString& text);

// An HTTPS address of TRMNL's image webhook API.
bool isTrmnlWebhook(const QString& address);

// A delivery key as typed, already trimmed.
bool isAcceptableDeliveryKey(const QString& key);

// What a save compares with to decide whether to ask before delivering
// automatically.
struct StoredDelivery {
    bool automatic = false;
    DeliveryDestination destination = DeliveryDestination::printer;
    QString origin;
    QString printer;
    int pageCount = 3;
    DisplayModel display = DisplayModel::og;

    static StoredDelivery read(const Preferences& preferences);
};

// Whether turning automatic delivery on, or changing where it goes, asks first.
bool needsTurnOnConfirmation(const ValidatedSave& save, const StoredDelivery& stored);

namespace TurnOnAlert {
inline constexpr QLatin1StringView message{"Deliver new issues automatically?"};
inline constexpr QLatin1StringView confirm{"Turn On"};
inline constexpr QLatin1StringView cancel{"Cancel"};
QString details(DeliveryDestination destination);
} // namespace TurnOnAlert

// "Saved · automatic delivery on" or "… off".
QString savedStatus(bool automatic);
// The status of a keyring or login item failure.
QString couldNotSave(const QString& description);

} // namespace quillo
