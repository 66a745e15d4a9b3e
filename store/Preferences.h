// The reader's stored settings: one per-user QSettings file. Every key, its
// typed read and its read default are fixed here.
#pragma once

#include "kit/DeliveryKit.h"

#include <QJsonValue>
#include <QLatin1StringView>
#include <QString>
#include <memory>
#include <optional>

class QSettings;

namespace quillo {

// The service the agent talks to when no origin is stored.
inline constexpr QLatin1StringView defaultServiceOrigin{"https://quillo.news"};

namespace PreferenceKey {
inline constexpr QLatin1StringView destination{"destination"};
inline constexpr QLatin1StringView displayModel{"displayModel"};
inline constexpr QLatin1StringView origin{"origin"};
inline constexpr QLatin1StringView printer{"printer"};
inline constexpr QLatin1StringView maxPages{"maxPages"};
inline constexpr QLatin1StringView automatic{"automatic"};
inline constexpr QLatin1StringView authorizedBuild{"authorizedBuild"};
inline constexpr QLatin1StringView didShowWelcome{"didShowWelcome"};
} // namespace PreferenceKey

// The store's file, relative to the XDG config directory ($XDG_CONFIG_HOME or
// ~/.config). The companion tool keeps its cache beside it, in quillo/feeds/.
inline constexpr QLatin1StringView preferencesFile{"quillo/quillo-bar.conf"};

// Reads go to the file each time a store is created, so callers make one per
// use (or call sync()) to see what another process wrote meanwhile.
class Preferences {
public:
    // The user's own store under the XDG config directory.
    Preferences();
    // A store in the given file (tests, tools).
    explicit Preferences(const QString& filePath);
    ~Preferences();
    Preferences(const Preferences&) = delete;
    Preferences& operator=(const Preferences&) = delete;

    // Typed reads: absence is an ordinary value (nullopt, 0, false).
    [[nodiscard]] std::optional<QString> string(QLatin1StringView key) const;
    [[nodiscard]] int integer(QLatin1StringView key) const;
    [[nodiscard]] bool boolean(QLatin1StringView key) const;

    // Writing an absent string removes the key.
    void setString(QLatin1StringView key, const std::optional<QString>& value);
    void setInteger(QLatin1StringView key, int value);
    void setBoolean(QLatin1StringView key, bool value);
    // Stores a JSON value as given; null or undefined removes the key.
    void setJsonValue(QLatin1StringView key, const QJsonValue& value);

    // Makes every write durable on disk; false when the store could not be written.
    bool sync();
    [[nodiscard]] QString filePath() const;

    // Derived readings shared by several callers.
    [[nodiscard]] DeliveryDestination destination() const;
    [[nodiscard]] DisplayModel displayModel() const;
    [[nodiscard]] int effectivePageCount() const;
    // The stored origin, or the default service origin when none is stored.
    [[nodiscard]] QString origin() const;

private:
    std::unique_ptr<QSettings> settings_;
};

} // namespace quillo
