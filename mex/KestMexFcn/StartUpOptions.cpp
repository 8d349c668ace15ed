#include "mex/KestMexFcn/StartUpOptions.h"

#include "mex/KestMexFcn/MexError.h"
#include "mex/KestMexFcn/MxIo.h"

namespace KestMexFcn {

std::unique_ptr<StartUpOptions> gStartUpOptions;

namespace {
constexpr std::size_t kOptionSize = 256;
} // namespace

StartUpOptions StartUpOptions::Parse(int nrhs, const mxArray* prhs[]) {
    StartUpOptions options;
    for (int i = 0; i < nrhs; ++i) {
        if (!IsText(prhs[i])) {
            throw MexError("startup options must all be of type char");
        }
        const std::optional<std::string> option = ReadText(prhs[i], kOptionSize);
        if (!option) {
            throw MexError("invalid startup option");
        }
        if (*option == "tcp") {
            options.useUDP = false;
        } else if (*option == "no-warning") {
            Print("setting warnings: off\n");
            options.warnings = false;
        } else if (*option == "addr") {
            // The address must follow, and fit the same buffer as an option.
            const std::optional<std::string> address =
                i + 1 < nrhs ? ReadText(prhs[i + 1], kOptionSize) : std::nullopt;
            if (!address || address->empty()) {
                throw MexError("invalid address");
            }
            options.address = *address;
            Print(Format("using %s for PAX communication\n", address->c_str()));
            ++i;
        }
    }
    return options;
}

} // namespace KestMexFcn
