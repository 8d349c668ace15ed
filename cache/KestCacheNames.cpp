// Names of streams, filters and outputs, and the front-end model of an electrode.
#include "cache/KestCacheQuery.h"

#include "cache/FrontEndModels.h"
#include "protocol/RecordText.h"

#include <string>
#include <vector>

namespace {

int CopyNames(const std::vector<std::string>& names, char (*out)[128], int max, int written) {
    for (const std::string& name : names) {
        if (written >= max) {
            break;
        }
        if (out != nullptr) {
            std::size_t length = name.size() < 127 ? name.size() : 127;
            name.copy(out[written], length);
            out[written][length] = '\0';
        }
        ++written;
    }
    return written;
}

} // namespace

int KestCache::GetStreamStrings(char (*out)[128], int max, int electrode) {
    std::lock_guard<std::mutex> hold(lock_);
    int hw = GetHWModule(unsigned(electrode));
    ModuleData* store = hw < 0 ? nullptr : FindModule(unsigned(hw));
    if (store == nullptr) {
        return -1;
    }
    int written = CopyNames(store->GetStreamStrings(), out, max, 0);
    const KestModuleDesc* desc = store->GetModuleDesc();
    if (desc != nullptr && desc->moduleClass == 4) {
        return written;
    }
    if (ModuleData* next = FindModule(unsigned(hw) + 1)) {
        written = CopyNames(next->GetStreamStrings(), out, max, written);
    }
    return written;
}

int KestCache::GetFilterStrings(char (*out)[128], int max, int electrode) {
    std::lock_guard<std::mutex> hold(lock_);
    int hw = GetHWModule(unsigned(electrode));
    if (hw < 0) {
        return -1;
    }
    ModuleData* store = FindModule(unsigned(hw) + 1);
    return store == nullptr ? 0 : CopyNames(store->GetFilterStrings(), out, max, 0);
}

int KestCache::GetOutputStrings(char (*out)[128], int module) {
    std::lock_guard<std::mutex> hold(lock_);
    ModuleData* store = module < 0 ? nullptr : FindModule(unsigned(module));
    if (store == nullptr) {
        return -1;
    }
    const auto [first, end] = store->GetInputConnectionRange();
    if (first <= 0) {
        return 0;
    }
    int written = 0;
    for (int i = 0; i < end - first; ++i) {
        auto* item = As<KestComboBoxItem>(store->GetInputConnection(i));
        if (item == nullptr) {
            return -1;
        }
        if (out != nullptr) {
            CopyRecordText(out[written], item->text);
        }
        ++written;
    }
    return written;
}

KestFEVersion KestCache::GetFEVersionUnlocked(int electrode) {
    int hw = GetHWModule(unsigned(electrode));
    ModuleData* store = hw < 0 ? nullptr : FindModule(unsigned(hw));
    if (store == nullptr) {
        throw std::runtime_error("GetFEVersionCould not find electrode");
    }
    const KestModuleDesc* desc = store->GetModuleDesc();
    if (desc == nullptr) {
        throw std::runtime_error("GetFEVersionModuleDesc property not found");
    }
    std::string text = RecordText(desc->hwVersion);
    if (text.size() < 15) {
        // A version text too short to hold the revision digits is reported like the
        // other lookup failures instead of escaping as an out-of-range error.
        throw std::runtime_error("GetFEVersionVersion text too short");
    }
    auto digits = [&](std::size_t first, std::size_t count) {
        int value = 0;
        for (std::size_t i = first; i < first + count && text[i] >= '0' && text[i] <= '9'; ++i) {
            value = value * 10 + (text[i] - '0');
        }
        return value;
    };
    KestFEVersion version;
    version.name = text.substr(0, 11);
    version.major = digits(12, 1);
    version.minor = digits(14, 1);
    version.build = digits(7, 4);
    return version;
}

KestFEVersion KestCache::GetFEVersion(int electrode) {
    std::lock_guard<std::mutex> hold(lock_);
    return GetFEVersionUnlocked(electrode);
}

namespace {

template <typename List> bool NameHasAny(const std::string& name, const List& parts) {
    for (const char* part : parts) {
        if (name.find(part) != std::string::npos) {
            return true;
        }
    }
    return false;
}

} // namespace

bool KestCache::HasStimCalib(int electrode) {
    std::lock_guard<std::mutex> hold(lock_);
    try {
        return NameHasAny(GetFEVersionUnlocked(electrode).name, kStimCalibPartNumbers);
    } catch (const std::runtime_error&) {
        return false;
    }
}

bool KestCache::HasMaxStimLimit(int electrode) {
    std::lock_guard<std::mutex> hold(lock_);
    try {
        return NameHasAny(GetFEVersionUnlocked(electrode).name, kMaxStimLimitPartNumbers);
    } catch (const std::runtime_error&) {
        return false;
    }
}
