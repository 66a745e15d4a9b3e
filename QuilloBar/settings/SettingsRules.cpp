#include "QuilloBar/settings/SettingsRules.h"

#include "QuilloBar/settings/UserText.h"
#include "kit/FeedKey.h"
#include "store/Preferences.h"

#include <QUrl>
#include <algorithm>
#include <array>
#include <string_view>

namespace quillo {
namespace {

constexpr qsizetype longestWebhook = 2048;
constexpr qsizetype longestKey = 1024;

// TRMNL's service domain today, and the one addresses saved earlier still use.
constexpr std::array<QLatin1StringView, 2> trmnlHosts{QLatin1StringView("trmnl.com"),
                                                      QLatin1StringView("usetrmnl.com")};

// Line breaks stay: an origin with one inside is refused rather than repaired.
QString withoutSpacesAndTabs(const QString& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    const auto blank = [&text](qsizetype at) { return text[at] == u' ' || text[at] == u'\t'; };
    while (begin < end && blank(begin)) {
        ++begin;
    }
    while (end > begin && blank(end - 1)) {
        --end;
    }
    return text.sliced(begin, end - begin);
}

bool isHttps(const QString& text, const QUrl& url) {
    // QUrl lowercases the scheme; the address must carry it in lower case already.
    return url.isValid() && url.scheme() == u"https" && text.startsWith(u"https:");
}

QString lowerCaseTitle(DeliveryDestination destination) {
    return QString::fromLatin1(title(destination)).toLower();
}

} // namespace

std::optional<QString> normalizedOrigin(const QString& text) {
    const QString origin = withoutSpacesAndTabs(text);
    const QUrl url(origin, QUrl::StrictMode);
    const QString path = url.path(QUrl::FullyEncoded);
    if (!isHttps(origin, url) || url.host().isEmpty() || !url.userInfo().isNull() ||
        !(path.isEmpty() || path == u"/") || url.hasQuery() || url.hasFragment()) {
        return std::nullopt;
    }
    return withoutSurroundingSlashes(url.toString(QUrl::FullyEncoded));
}

QString withoutSurroundingSlashes(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    const std::string_view stripped = withoutSurroundingSlashes(
        std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
    return QString::fromUtf8(stripped.data(), static_cast<qsizetype>(stripped.size()));
}

bool isTrmnlWebhook(const QString& address) {
    if (characterCount(address) > longestWebhook ||
        std::any_of(address.cbegin(), address.cend(),
                    [](QChar c) { return c == u'\n' || c == u'\r' || c == u'\\' || c == u'"'; })) {
        return false;
    }
    const QUrl url(address, QUrl::StrictMode);
    const QString host = url.host(QUrl::FullyEncoded);
    // Without user information the host follows the scheme directly, so this
    // compares the host as written (QUrl lowercases it).
    const bool hostAsWritten =
        std::find(trmnlHosts.cbegin(), trmnlHosts.cend(), host) != trmnlHosts.cend() &&
        address.startsWith(QStringLiteral("https://") + host);
    const QString path = url.path(QUrl::FullyEncoded);
    return isHttps(address, url) && url.userInfo().isNull() && hostAsWritten &&
           (url.port() == -1 || url.port() == 443) && !url.hasFragment() &&
           path.startsWith(u"/api/") && path.size() > 5;
}

bool isAcceptableDeliveryKey(const QString& key) {
    // Each accepted character is an ASCII one and a grapheme of its own, so the
    // length in characters is the length the reader sees.
    static const QString punctuation = QStringLiteral("._~+/=-");
    return key.size() <= longestKey && std::all_of(key.cbegin(), key.cend(), [](QChar c) {
               return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') ||
                      (c >= u'0' && c <= u'9') || punctuation.contains(c);
           });
}

std::variant<ValidatedSave, SaveRefusal> checkSave(const SaveInput& input) {
    const auto origin = normalizedOrigin(input.origin);
    if (!origin) {
        return SaveRefusal{SaveMessage::badOrigin, FormField::origin};
    }
    ValidatedSave save{*origin,
                       input.destination,
                       input.display,
                       input.webhook.trimmed(),
                       input.key.trimmed(),
                       std::clamp(input.maxPages, 1, 4),
                       input.printer,
                       input.automatic};
    if (prints(save.destination) && save.printer.isEmpty()) {
        return SaveRefusal{SaveMessage::noPrinter, FormField::printer};
    }
    if (displays(save.destination)) {
        const QString webhook =
            save.typedWebhook.isEmpty() ? input.heldWebhook.value_or(QString()) : save.typedWebhook;
        if (!isTrmnlWebhook(webhook)) {
            return SaveRefusal{SaveMessage::badWebhook, FormField::webhook};
        }
    }
    if (save.typedKey.isEmpty()) {
        // An empty unlocked key could never authorize a run.
        if (input.heldDeliveryKey.value_or(QString()).isEmpty()) {
            return SaveRefusal{SaveMessage::noKey, FormField::key};
        }
    } else if (!isAcceptableDeliveryKey(save.typedKey)) {
        return SaveRefusal{SaveMessage::badKey, FormField::key};
    }
    return save;
}

StoredDelivery StoredDelivery::read(const Preferences& preferences) {
    return {preferences.boolean(PreferenceKey::automatic),
            preferences.destination(),
            preferences.origin(),
            preferences.string(PreferenceKey::printer).value_or(QString()),
            preferences.effectivePageCount(),
            preferences.displayModel()};
}

bool needsTurnOnConfirmation(const ValidatedSave& save, const StoredDelivery& stored) {
    if (!save.automatic) {
        return false;
    }
    if (!stored.automatic) {
        return true;
    }
    return save.destination != stored.destination || !save.typedKey.isEmpty() ||
           !save.typedWebhook.isEmpty() || save.origin != stored.origin ||
           (prints(save.destination) &&
            (save.printer != stored.printer || save.pageCount != stored.pageCount)) ||
           (displays(save.destination) && save.display != stored.display);
}

QString TurnOnAlert::details(DeliveryDestination destination) {
    QString text = QStringLiteral("Every new issue will go to ") + lowerCaseTitle(destination) +
                   QStringLiteral(" while this computer is awake.");
    if (displays(destination)) {
        text += QStringLiteral("\n\nThe front-page image, including anything private, is "
                               "uploaded to TRMNL\u2019s cloud.");
    }
    return text + QStringLiteral("\n\nNothing is delivered now; only future issues are.");
}

QString savedStatus(bool automatic) {
    return QStringLiteral("Saved \u00B7 automatic delivery ") +
           (automatic ? QStringLiteral("on") : QStringLiteral("off"));
}

QString couldNotSave(const QString& description) {
    return QStringLiteral("Could not save: ") + description;
}

} // namespace quillo
