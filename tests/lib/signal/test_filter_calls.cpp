// Filter calls against the emulated processor: names and choices per electrode, a selection
// confirmed by the processor, descriptions read whole and a custom filter uploaded and read
// back byte for byte.
#include "LiveProcessor.h"

#include "protocol/KestPacket.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

using namespace signaltest;

namespace {

struct FreeDesc {
    void operator()(KestFilterDesc* desc) const { std::free(desc); }
};
using Desc = std::unique_ptr<KestFilterDesc, FreeDesc>;

// Index of the record of the filter's k-th choice (its SOS description) in the processing
// module: the combo box, its items, then their descriptions.
std::uint16_t ChoiceIndex(paxsim::ProcessorModel& model, std::uint8_t module,
                          const std::string& filter, unsigned k) {
    paxsim::ModuleModel& m = *model.Find(module);
    const std::uint16_t box = m.Index(filter);
    const auto& combo = paxsim::View<KestComboBox>(m.records.at(box));
    return paxsim::View<KestComboBoxItem>(m.records.at(combo.firstItem + k)).propIndex;
}

// A description of `stages` stages with distinct values in every field.
std::vector<std::uint8_t> Description(unsigned stages) {
    std::vector<std::uint8_t> bytes(KL_FILTER_DESC_SIZE(stages));
    auto* desc = reinterpret_cast<KestFilterDesc*>(bytes.data());
    std::snprintf(desc->label, sizeof desc->label, "%s", "notch 60 Hz");
    desc->center = 60.0f;
    desc->lowCutoff = 58.5f;
    desc->highCutoff = 61.5f;
    desc->centerOrder = 4;
    desc->lowOrder = 2;
    desc->highOrder = 6;
    desc->maxStages = 8;
    desc->numStages = std::uint8_t(stages);
    float* coefficients = KL_FILTER_COEFFICIENTS(desc);
    for (unsigned i = 0; i < 4 * stages; ++i) {
        coefficients[i] = 0.125f * float(i + 1);
    }
    return bytes;
}

class FilterCalls : public LiveProcessor {};

} // namespace

TEST_F(FilterCalls, NamesAndChoicesPerElectrode) {
    Open(2, nullptr, true); // stream link: no echo lost on a busy machine
    char names[10][128];
    ASSERT_EQ(kl_filter_list_names(names, 10, 40), 5);
    EXPECT_STREQ(names[0], "emg");
    EXPECT_STREQ(names[3], "lfp");
    EXPECT_STREQ(names[4], "spike");
    EXPECT_EQ(kl_filter_list_names(names, 2, 3), 2);
    EXPECT_EQ(kl_filter_list_names(names, 10, 300), -1) << "no such front end";

    int selection = -1;
    EXPECT_EQ(kl_filter_list_selection(&selection, 40, "LFP Filter"), 4);
    EXPECT_EQ(selection, 1);
    EXPECT_EQ(kl_filter_list_selection(nullptr, 40, "hifreq"), 3);
    testing::internal::CaptureStderr();
    EXPECT_EQ(kl_filter_list_selection(&selection, 40, "notch"), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "kl_filter_list_selection: invalid filter string: notch\n");

    // A selection is taken by the processor and confirmed by its echo.
    ASSERT_EQ(kl_filter_set(40, "lfp", 2), KL_SUCCESS);
    ASSERT_TRUE(WaitFor(
        [&] { return kl_filter_list_selection(&selection, 40, "lfp") == 4 && selection == 2; }));
    EXPECT_EQ(kl_filter_list_selection(&selection, 3, "lfp"), 4);
    EXPECT_EQ(selection, 1) << "the other front end keeps its own";
    testing::internal::CaptureStderr();
    EXPECT_EQ(kl_filter_set(40, "lfp", 4), -1);
    EXPECT_EQ(kl_filter_set(40, "lfp", -1), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "kl_filter_set: invalid selection: 4\nkl_filter_set: invalid selection: -1\n");

    const Desc desc(kl_filter_get_desc(40, "spike", 2));
    ASSERT_NE(desc, nullptr);
    EXPECT_STREQ(desc->label, "300 Hz-7.5 kHz");
    EXPECT_EQ(desc->lowCutoff, 300.0f);
    EXPECT_EQ(desc->highCutoff, 7500.0f);
    EXPECT_EQ(desc->numStages, 3);
    EXPECT_EQ(KL_FILTER_COEFFICIENTS(desc.get())[8], 1.0f) << "stage 3, first coefficient";
    testing::internal::CaptureStderr();
    EXPECT_EQ(kl_filter_get_desc(40, "spike", 4), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "kl_get_filter_desc: invalid selection: 4\n");
}

TEST_F(FilterCalls, CustomFilterIsUploadedAndReadBackByteForByte) {
    Open(1);
    const std::uint16_t slot =
        server_->WithModel([](paxsim::ProcessorModel& model, paxsim::DataGenerator&) {
            return ChoiceIndex(model, 2, "LFP Filter", 3);
        });
    const std::vector<std::uint8_t> sent = Description(3);
    ASSERT_EQ(sent.size(), 196u);
    ASSERT_EQ(kl_filter_set_custom(7, "lfp", reinterpret_cast<const KestFilterDesc*>(sent.data())),
              KL_SUCCESS);

    // The processor keeps the 200-byte record: version 1, type 26, then the description.
    ASSERT_TRUE(WaitFor([&] { return Stored(2, slot).size() == 200; }));
    const Record stored = Stored(2, slot);
    EXPECT_EQ(stored[0], 1);
    EXPECT_EQ(stored[1], kKestSosFilterDescType);
    EXPECT_EQ(Record(stored.begin() + 4, stored.end()), sent);

    // Its echo is what the library reads back.
    Desc echoed;
    ASSERT_TRUE(WaitFor([&] {
        echoed.reset(kl_filter_get_desc(7, "lfp", 3));
        return echoed != nullptr && echoed->numStages == 3;
    }));
    EXPECT_EQ(std::memcmp(echoed.get(), sent.data(), sent.size()), 0);

    // The slot takes 8 stages; null descriptions and unknown filters are refused.
    const std::vector<std::uint8_t> tooLong = Description(9);
    EXPECT_EQ(
        kl_filter_set_custom(7, "lfp", reinterpret_cast<const KestFilterDesc*>(tooLong.data())),
        KL_ERR_INVALID_PARAMETER);
    EXPECT_EQ(kl_filter_set_custom(7, "lfp", nullptr), KL_ERR_INVALID_PARAMETER);
    testing::internal::CaptureStderr();
    EXPECT_EQ(
        kl_filter_set_custom(7, "notch", reinterpret_cast<const KestFilterDesc*>(sent.data())), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "kl_get_filter_desc: invalid filter string: notch\n");
}

TEST_F(FilterCalls, DescriptionsAreReadNoFurtherThanStored) {
    Open(1, [](paxsim::ProcessorModel& model) {
        paxsim::ModuleModel& m = *model.Find(2);
        // "0.3-250 Hz" claims 2 stages but holds 1; "None" of the spike filter points at the
        // module descriptor instead of a filter; the emg filter's custom slot likewise.
        m.records.at(ChoiceIndex(model, 2, "LFP Filter", 1)).resize(kKestSosFilterHeadSize + 16);
        const std::uint16_t box = m.Index("Spike Filter");
        const auto firstItem = paxsim::View<KestComboBox>(m.records.at(box)).firstItem;
        paxsim::View<KestComboBoxItem>(m.records.at(firstItem)).propIndex = 0;
        const std::uint16_t emg = m.Index("EMG Filter");
        const auto& emgBox = paxsim::View<KestComboBox>(m.records.at(emg));
        paxsim::View<KestComboBoxItem>(m.records.at(emgBox.firstItem + emgBox.itemCount - 1))
            .propIndex = 0;
    });
    const Desc shortened(kl_filter_get_desc(3, "lfp", 1));
    ASSERT_NE(shortened, nullptr);
    EXPECT_EQ(shortened->numStages, 1);

    testing::internal::CaptureStderr();
    EXPECT_EQ(kl_filter_get_desc(3, "spike", 0), nullptr);
    testing::internal::GetCapturedStderr();
    const std::vector<std::uint8_t> sent = Description(2);
    EXPECT_EQ(kl_filter_set_custom(3, "emg", reinterpret_cast<const KestFilterDesc*>(sent.data())),
              KL_ERR_UNSUPPORTED);
}
