#include "QuilloBar/SettingsRules.h"

#include <gtest/gtest.h>
#include <vector>

namespace quillo {
namespace {

using enum DeliveryDestination;

const QString webhook = QStringLiteral("https://trmnl.com/api/plugin_settings/8c2f/image");

// A webhook of `count` user-perceived characters, each of two code points.
QString webhookOfLength(qsizetype count) {
    const QString start = QStringLiteral("https://trmnl.com/api/");
    return start + QStringLiteral("e\u0301").repeated(count - start.size());
}

TEST(SettingsRules, SaveReportsTheFirstProblem) {
    // Fields left null keep the complete form's value.
    struct Case {
        const char* name;
        const char* origin = nullptr;
        const char* webhook = nullptr;
        const char* key = nullptr;
        const char* queue = nullptr;
        DeliveryDestination destination = both;
        const char* unlockedWebhook = nullptr;
        const char* unlockedToken = nullptr;
        qsizetype webhookLength = 0;
        qsizetype keyLength = 0;
        QLatin1StringView refusal{};
    };
    const auto badOrigin = SaveMessage::badOrigin;
    const auto badHook = SaveMessage::badWebhook;
    const auto badKey = SaveMessage::badKey;
    const std::vector<Case> cases{
        {.name = "complete"},
        {.name = "origin with slash and blanks", .origin = " \thttps://quillo.news/\t "},
        {.name = "origin with port", .origin = "https://quillo.news:8443"},
        {.name = "http origin", .origin = "http://quillo.news", .refusal = badOrigin},
        {.name = "upper-case scheme", .origin = "HTTPS://quillo.news", .refusal = badOrigin},
        {.name = "origin with path", .origin = "https://quillo.news/feed", .refusal = badOrigin},
        {.name = "origin with user", .origin = "https://me@quillo.news", .refusal = badOrigin},
        {.name = "origin with query", .origin = "https://quillo.news?a=1", .refusal = badOrigin},
        {.name = "origin with fragment", .origin = "https://quillo.news#a", .refusal = badOrigin},
        {.name = "origin with line break", .origin = "https://quillo.news\n", .refusal = badOrigin},
        {.name = "no printer", .queue = "", .refusal = SaveMessage::noPrinter},
        {.name = "no printer, e-ink only", .queue = "", .destination = display},
        {.name = "former domain, query", .webhook = "https://usetrmnl.com/api/p/8c2f/image?v=2"},
        {.name = "port 443", .webhook = "https://trmnl.com:443/api/x"},
        {.name = "blanks around webhook", .webhook = "\n https://trmnl.com/api/x "},
        {.name = "subdomain", .webhook = "https://www.trmnl.com/api/x", .refusal = badHook},
        {.name = "look-alike",
         .webhook = "https://trmnl.com.example.net/api/x",
         .refusal = badHook},
        {.name = "look-alike prefix",
         .webhook = "https://evil-trmnl.com/api/x",
         .refusal = badHook},
        {.name = "upper-case host", .webhook = "https://TRMNL.com/api/x", .refusal = badHook},
        {.name = "port 8443", .webhook = "https://trmnl.com:8443/api/x", .refusal = badHook},
        {.name = "bare /api/", .webhook = "https://trmnl.com/api/", .refusal = badHook},
        {.name = "other path", .webhook = "https://trmnl.com/apix/y", .refusal = badHook},
        {.name = "http webhook", .webhook = "http://trmnl.com/api/x", .refusal = badHook},
        {.name = "user", .webhook = "https://me@trmnl.com/api/x", .refusal = badHook},
        {.name = "fragment", .webhook = "https://trmnl.com/api/x#a", .refusal = badHook},
        {.name = "double quote", .webhook = "https://trmnl.com/api/x?a=\"b", .refusal = badHook},
        {.name = "backslash", .webhook = "https://trmnl.com/api/x\\y", .refusal = badHook},
        {.name = "2048 characters", .webhookLength = 2048},
        {.name = "2049 characters", .webhookLength = 2049, .refusal = badHook},
        {.name = "unlocked webhook", .webhook = "", .unlockedWebhook = "https://trmnl.com/api/x"},
        {.name = "no webhook", .webhook = "", .refusal = badHook},
        {.name = "bad unlocked webhook",
         .webhook = "",
         .unlockedWebhook = "https://example.com/api/x",
         .refusal = badHook},
        {.name = "printer only: webhook unchecked", .webhook = "x", .destination = printer},
        {.name = "key of 1024", .keyLength = 1024},
        {.name = "key of 1025", .keyLength = 1025, .refusal = badKey},
        {.name = "every accepted character", .key = "aZ09._~+/=-"},
        {.name = "key trimmed", .key = " \r\n key \t\r\n"},
        {.name = "inner space", .key = "my key", .refusal = badKey},
        {.name = "quote", .key = "key'", .refusal = badKey},
        {.name = "percent", .key = "key%20", .refusal = badKey},
        {.name = "non-ASCII letter", .key = "cl\u00e9", .refusal = badKey},
        {.name = "inner CRLF", .key = "ab\r\ncd", .refusal = badKey},
        {.name = "no key", .key = "", .refusal = SaveMessage::noKey},
        {.name = "empty unlocked key",
         .key = "",
         .unlockedToken = "",
         .refusal = SaveMessage::noKey},
        {.name = "unlocked key", .key = "", .unlockedToken = "key-0"},
        {.name = "origin first", .origin = "quillo.news", .queue = "", .refusal = badOrigin},
        {.name = "printer second", .webhook = "x", .queue = "", .refusal = SaveMessage::noPrinter},
        {.name = "webhook third", .webhook = "x", .key = "a b", .refusal = badHook},
    };
    const auto text = [](const char* value, const QString& otherwise) {
        return value != nullptr ? QString::fromUtf8(value) : otherwise;
    };
    const auto optional = [](const char* value) {
        return value != nullptr ? std::optional(QString::fromUtf8(value)) : std::nullopt;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SaveInput form{
            text(c.origin, QStringLiteral("https://quillo.news")),
            c.destination,
            DisplayModel::og,
            c.webhookLength > 0 ? webhookOfLength(c.webhookLength) : text(c.webhook, webhook),
            c.keyLength > 0 ? QString(c.keyLength, u'k') : text(c.key, QStringLiteral("key-1")),
            3,
            text(c.queue, QStringLiteral("Office")),
            false,
            optional(c.unlockedWebhook),
            optional(c.unlockedToken)};
        const auto outcome = checkSave(form);
        const auto* refusal = std::get_if<SaveRefusal>(&outcome);
        EXPECT_EQ(refusal != nullptr ? refusal->message : QString(), QString(c.refusal));
    }
}

TEST(SettingsRules, AcceptedFormIsNormalised) {
    SaveInput form{QStringLiteral("  https://Quillo.News:8443/ "),
                   both,
                   DisplayModel::x,
                   QStringLiteral("\t") + webhook,
                   QStringLiteral(" key-1\n"),
                   3,
                   QStringLiteral("Office")};
    for (const auto& [pages, stored] : {std::pair{0, 1}, {3, 3}, {9, 4}}) {
        form.maxPages = pages;
        const auto save = std::get<ValidatedSave>(checkSave(form));
        EXPECT_EQ(save.origin, QStringLiteral("https://quillo.news:8443"));
        EXPECT_EQ(save.typedKey, QStringLiteral("key-1"));
        EXPECT_EQ(save.typedWebhook, webhook);
        EXPECT_EQ(save.pageCount, stored);
    }
}

TEST(SettingsRules, TurningOnAsksWhenWhatIsDeliveredChanges) {
    // Against stored settings: automatic on, printer "Office", 3 pages, og.
    struct Case {
        const char* name;
        bool asks;
        bool wasAutomatic = true;
        bool automatic = true;
        DeliveryDestination stored = printer;
        DeliveryDestination destination = printer;
        int pages = 3;
        const char* queue = "Office";
        DisplayModel model = DisplayModel::og;
        const char* origin = "https://quillo.news";
        const char* key = "";
        const char* webhook = "";
    };
    const std::vector<Case> cases{
        {.name = "nothing changed", .asks = false},
        {.name = "first turn-on", .asks = true, .wasAutomatic = false},
        {.name = "turned off", .asks = false, .automatic = false},
        {.name = "pages while printing", .asks = true, .pages = 2},
        {.name = "printer", .asks = true, .queue = "Lab"},
        {.name = "display while printing", .asks = false, .model = DisplayModel::x},
        {.name = "destination", .asks = true, .destination = both},
        {.name = "origin", .asks = true, .origin = "https://a.news"},
        {.name = "typed key", .asks = true, .key = "k"},
        {.name = "typed webhook", .asks = true, .webhook = "w"},
        {.name = "display on e-ink",
         .asks = true,
         .stored = display,
         .destination = display,
         .model = DisplayModel::x},
        {.name = "pages on e-ink",
         .asks = false,
         .stored = display,
         .destination = display,
         .pages = 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ValidatedSave save{c.origin, c.destination, c.model, c.webhook,
                                 c.key,    c.pages,       c.queue, c.automatic};
        const StoredDelivery stored{
            c.wasAutomatic,           c.stored, QStringLiteral("https://quillo.news"),
            QStringLiteral("Office"), 3,        DisplayModel::og};
        EXPECT_EQ(needsTurnOnConfirmation(save, stored), c.asks);
    }
}

TEST(SettingsRules, TurnOnAlertNamesTheDestination) {
    EXPECT_EQ(TurnOnAlert::details(printer),
              QStringLiteral("Every new issue will go to printer while this computer is awake.\n\n"
                             "Nothing is delivered now; only future issues are."));
    EXPECT_EQ(TurnOnAlert::details(both),
              QStringLiteral("Every new issue will go to both while this computer is awake.\n\n"
                             "The front-page image, including anything private, is uploaded to "
                             "TRMNL\u2019s cloud.\n\nNothing is delivered now; only future issues "
                             "are."));
}

} // namespace
} // namespace quillo
