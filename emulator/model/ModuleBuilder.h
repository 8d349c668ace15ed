// Lays out one module's property records.
//
// Index 0 holds the module descriptor and indices 1 … B the module's B block descriptors,
// so that a client that asks for the first B properties gets every block. The contents of
// the blocks follow in the order they are added. Because B must be known before the
// first content index, a module is built by running its build function twice: once to
// count the blocks, once for real (see BuildModule).
#pragma once

#include "emulator/model/ModuleModel.h"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace paxsim {

class ModuleBuilder {
  public:
    // probe: a first pass that only counts blocks (its indices are not final).
    explicit ModuleBuilder(std::uint16_t reservedBlocks, bool probe = false);
    bool IsProbe() const { return probe_; }

    // Opens a block; every record added until EndBlock belongs to it.
    void BeginBlock(std::uint8_t kind, const std::string& name);
    void EndBlock();

    Record& At(std::uint16_t index) { return records_.at(index); }
    std::uint16_t NextIndex() const { return static_cast<std::uint16_t>(records_.size()); }
    std::uint16_t Add(Record record);
    // A property descriptor followed by its value record; returns the value index.
    std::uint16_t AddNamed(const std::string& name, std::uint8_t valueType, Record value);
    // A combo box with its items right after it; returns the combo box index.
    std::uint16_t AddCombo(const std::string& name, const std::vector<std::string>& items,
                           std::uint16_t selection);
    void Name(const std::string& name, std::uint16_t index) { model_.named[name] = index; }

    std::uint16_t BlockCount() const { return blockCount_; }
    ModuleModel& Model() { return model_; }

    // Fills the module descriptor (class, counts, texts) and hands the module over.
    ModuleModel Finish(std::uint8_t id, std::uint16_t moduleClass, const std::string& label,
                       const std::string& swVersion, const std::string& hwVersion);

  private:
    std::uint16_t reserved_;
    bool probe_;
    std::uint16_t blockCount_ = 0;
    bool inBlock_ = false;
    std::uint8_t kind_ = 0;
    std::string blockName_;
    std::uint16_t blockFirst_ = 0;
    std::vector<Record> records_;
    ModuleModel model_;
};

template <typename Fn> ModuleModel BuildModule(Fn&& build) {
    ModuleBuilder probe(0, true);
    build(probe);
    ModuleBuilder real(probe.BlockCount());
    return build(real);
}

} // namespace paxsim
