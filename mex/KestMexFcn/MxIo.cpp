#include "mex/KestMexFcn/MxIo.h"

#include "mex/KestMexFcn/MexError.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace KestMexFcn {

std::optional<std::string> ReadText(const mxArray* array, std::size_t size) {
    if (array == nullptr || size == 0 || !IsText(array)) {
        return std::nullopt;
    }
    std::vector<char> buffer(size, '\0');
    const int failed = Host([&] { return mxGetString(array, buffer.data(), mwSize(size)); });
    if (failed != 0) {
        return std::nullopt;
    }
    buffer.back() = '\0';
    return std::string(buffer.data());
}

bool IsText(const mxArray* array) {
    return Host([&] { return mxIsChar(array); });
}

void Print(const std::string& text) {
    Host([&] { return mexPrintf("%s", text.c_str()); });
}

void Warn(const std::string& text) {
    Host([&] { mexWarnMsgTxt(text.c_str()); });
}

std::string Format(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text;
    if (length > 0) {
        text.resize(std::size_t(length));
        std::vsnprintf(text.data(), text.size() + 1, format, again);
    }
    va_end(again);
    return text;
}

mxArray* MakeDouble(double value) {
    return Host([&] { return mxCreateDoubleScalar(value); });
}

mxArray* MakeLogical(bool value) {
    return Host([&] { return mxCreateLogicalScalar(value); });
}

mxArray* MakeString(const std::string& text) {
    return Host([&] { return mxCreateString(text.c_str()); });
}

} // namespace KestMexFcn
