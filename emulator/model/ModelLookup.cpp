#include "emulator/model/ModelLookup.h"

#include <sstream>

namespace paxsim {

std::string LookupIndex(const ProcessorModel& model, const std::string& arguments) {
    std::istringstream in(arguments);
    unsigned module = 256;
    in >> module;
    std::string name;
    std::getline(in, name);
    const std::size_t first = name.find_first_not_of(' ');
    name = first == std::string::npos ? std::string() : name.substr(first);
    const ModuleModel* m = module < 256 ? model.Find(std::uint8_t(module)) : nullptr;
    if (m == nullptr) {
        return "error index takes a known module and a name";
    }
    if (m->Has(name)) {
        return "ok " + std::to_string(m->Index(name));
    }
    auto block = m->blocks.find(name);
    if (block != m->blocks.end()) {
        return "ok " + std::to_string(block->second.first);
    }
    return "error no property or block named '" + name + "'";
}

} // namespace paxsim
