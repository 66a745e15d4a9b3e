// A shared module of the program, found under the install root and opened for
// the one mode that needs it: the executable itself links neither Qt nor the
// keyring, so render mode starts like a plain MuPDF tool.
#pragma once

#include <filesystem>
#include <string>

namespace quillo {

class Module {
public:
    // Lazy binding resolves a symbol only when first called: for a big
    // library of which one call uses a small part.
    enum class Binding { now, lazy };
    explicit Module(std::string_view relativePath, Binding binding = Binding::now);
    ~Module();
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    [[nodiscard]] bool isLoaded() const { return handle_ != nullptr; }
    // Why opening or the last lookup failed.
    [[nodiscard]] const std::string& error() const { return error_; }

    template <typename Function> Function* entry(const char* name) {
        return reinterpret_cast<Function*>(lookUp(name));
    }

    // Modules whose code may still run from exit handlers (Qt's) stay loaded
    // until the process ends.
    void keepLoaded() { keepLoaded_ = true; }

private:
    void* lookUp(const char* name);

    void* handle_ = nullptr;
    bool keepLoaded_ = false;
    std::string error_;
};

} // namespace quillo
