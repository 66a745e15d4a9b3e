// The delivery vocabulary shared by every subsystem. Raw values are a stored
// format (preferences, render requests): never change them.
#pragma once

#include <array>
#include <cstdint>
#include <exception>
#include <optional>
#include <string_view>

namespace quillo {

enum class DeliveryDestination : std::uint8_t { printer, display, both };

inline constexpr std::array<DeliveryDestination, 3> allDeliveryDestinations{
    DeliveryDestination::printer, DeliveryDestination::display, DeliveryDestination::both};

constexpr std::string_view rawValue(DeliveryDestination destination) {
    switch (destination) {
    case DeliveryDestination::display:
        return "display";
    case DeliveryDestination::both:
        return "both";
    case DeliveryDestination::printer:
        break;
    }
    return "printer";
}

constexpr std::string_view title(DeliveryDestination destination) {
    switch (destination) {
    case DeliveryDestination::display:
        return "E-ink display";
    case DeliveryDestination::both:
        return "Both";
    case DeliveryDestination::printer:
        break;
    }
    return "Printer";
}

constexpr bool prints(DeliveryDestination destination) {
    return destination != DeliveryDestination::display;
}

constexpr bool displays(DeliveryDestination destination) {
    return destination != DeliveryDestination::printer;
}

constexpr std::optional<DeliveryDestination> deliveryDestinationFromRaw(std::string_view raw) {
    for (const auto destination : allDeliveryDestinations) {
        if (rawValue(destination) == raw) {
            return destination;
        }
    }
    return std::nullopt;
}

enum class DisplayModel : std::uint8_t { og, x };

inline constexpr std::array<DisplayModel, 2> allDisplayModels{DisplayModel::og, DisplayModel::x};

constexpr std::string_view rawValue(DisplayModel model) {
    return model == DisplayModel::x ? "x" : "og";
}

// U+00B7 middle dot and U+00D7 multiplication sign, UTF-8 encoded.
constexpr std::string_view name(DisplayModel model) {
    return model == DisplayModel::x ? "TRMNL X \u00B7 1872 \u00D7 1404"
                                    : "TRMNL OG \u00B7 800 \u00D7 480";
}

constexpr int width(DisplayModel model) {
    return model == DisplayModel::x ? 1872 : 800;
}

constexpr int height(DisplayModel model) {
    return model == DisplayModel::x ? 1404 : 480;
}

constexpr std::optional<DisplayModel> displayModelFromRaw(std::string_view raw) {
    for (const auto model : allDisplayModels) {
        if (rawValue(model) == raw) {
            return model;
        }
    }
    return std::nullopt;
}

// Thrown by the display frame renderer; what() is the user-facing description.
class DisplayError final : public std::exception {
public:
    enum Case : std::uint8_t { invalidPDF, render, save };
    static constexpr std::array<Case, 3> allCases{invalidPDF, render, save};

    explicit DisplayError(Case errorCase) noexcept : errorCase_(errorCase) {}

    [[nodiscard]] Case errorCase() const noexcept { return errorCase_; }

    [[nodiscard]] std::string_view errorDescription() const noexcept {
        switch (errorCase_) {
        case render:
            return "Could not render this display frame.";
        case save:
            return "Could not save the monochrome display frame.";
        case invalidPDF:
            break;
        }
        return "The issue must contain portrait US Letter pages.";
    }

    [[nodiscard]] const char* what() const noexcept override { return errorDescription().data(); }

    friend bool operator==(const DisplayError& a, const DisplayError& b) noexcept {
        return a.errorCase_ == b.errorCase_;
    }

private:
    Case errorCase_;
};

} // namespace quillo
