// The one error type of the command layer. Handlers and argument helpers throw it; the entry
// catches it and raises the MATLAB error only after every object of the call is gone, so no
// lock, buffer or string of the call outlives the error.
#pragma once

#include <exception>
#include <stdexcept>
#include <string>

namespace KestMexFcn {

class MexError : public std::runtime_error {
  public:
    explicit MexError(const std::string& text) : std::runtime_error(text) {}
    MexError(std::string identifier, const std::string& text)
        : std::runtime_error(text), identifier_(std::move(identifier)) {}

    // Empty when the error carries no identifier.
    const std::string& Identifier() const { return identifier_; }
    const char* Text() const { return what(); }

  private:
    std::string identifier_;
};

// An exception that the host itself raised from inside one of its calls (a warning the user
// turned into an error, an interrupt, memory exhaustion). The entry lets it continue
// unchanged once the call's own objects are gone.
struct HostFailure {
    std::exception_ptr error;
};

// Runs one call into the host and wraps whatever it throws as a HostFailure.
template <typename Call> decltype(auto) Host(Call&& call) {
    try {
        return call();
    } catch (...) {
        throw HostFailure{std::current_exception()};
    }
}

} // namespace KestMexFcn
