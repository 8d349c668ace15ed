#include "emulator/model/ModuleBuilder.h"

namespace paxsim {

ModuleBuilder::ModuleBuilder(std::uint16_t reservedBlocks, bool probe)
    : reserved_(reservedBlocks), probe_(probe), records_(1 + std::size_t(reservedBlocks)) {}

void ModuleBuilder::BeginBlock(std::uint8_t kind, const std::string& name) {
    if (inBlock_) {
        throw std::logic_error("paxsim: block " + blockName_ + " still open");
    }
    inBlock_ = true;
    kind_ = kind;
    blockName_ = name;
    blockFirst_ = NextIndex();
}

void ModuleBuilder::EndBlock() {
    if (!inBlock_) {
        throw std::logic_error("paxsim: no open block");
    }
    inBlock_ = false;
    std::uint16_t count = static_cast<std::uint16_t>(NextIndex() - blockFirst_);
    if (blockCount_ < reserved_) {
        records_[1 + blockCount_] = BlockDescRecord(kind_, blockName_, blockFirst_, count);
    }
    ++blockCount_;
    model_.blocks[blockName_] = {blockFirst_, count};
}

std::uint16_t ModuleBuilder::Add(Record record) {
    if (records_.size() >= 0xFFFE) {
        throw std::length_error("paxsim: too many properties in one module");
    }
    records_.push_back(std::move(record));
    return static_cast<std::uint16_t>(records_.size() - 1);
}

std::uint16_t ModuleBuilder::AddNamed(const std::string& name, std::uint8_t valueType,
                                      Record value) {
    std::uint16_t valueIndex = static_cast<std::uint16_t>(NextIndex() + 1);
    Add(PropertyDescRecord(name, valueType, valueIndex, 1));
    Add(std::move(value));
    model_.named[name] = valueIndex;
    return valueIndex;
}

std::uint16_t ModuleBuilder::AddCombo(const std::string& name,
                                      const std::vector<std::string>& items,
                                      std::uint16_t selection) {
    std::uint16_t boxIndex = static_cast<std::uint16_t>(NextIndex() + 1);
    std::uint16_t firstItem = static_cast<std::uint16_t>(boxIndex + 1);
    AddNamed(name, kKestComboBoxType,
             ComboBoxRecord(selection, firstItem, static_cast<std::uint16_t>(items.size())));
    for (const std::string& text : items) {
        Add(ComboItemRecord(text, 0));
    }
    return boxIndex;
}

ModuleModel ModuleBuilder::Finish(std::uint8_t id, std::uint16_t moduleClass,
                                  const std::string& label, const std::string& swVersion,
                                  const std::string& hwVersion) {
    if (inBlock_) {
        throw std::logic_error("paxsim: block " + blockName_ + " still open");
    }
    if (!probe_ && blockCount_ != reserved_) {
        throw std::logic_error("paxsim: block count changed between the two builds");
    }
    KestModuleDesc desc{};
    desc.head = {1, kKestModuleDescType, 0, 0};
    desc.moduleClass = moduleClass;
    desc.blockCount = blockCount_;
    desc.propertyCount = static_cast<std::uint16_t>(records_.size());
    CopyText(desc.label, sizeof desc.label, label);
    CopyText(desc.swVersion, sizeof desc.swVersion, swVersion);
    CopyText(desc.hwVersion, sizeof desc.hwVersion, hwVersion);
    records_[0] = RecordOf(desc);
    model_.id = id;
    model_.moduleClass = moduleClass;
    model_.label = label;
    model_.records = std::move(records_);
    return std::move(model_);
}

} // namespace paxsim
