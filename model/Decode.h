// The decode of a good parameter read into the controls of the device page.
// The window applies the result field by field, in the order declared, and
// leaves a control alone where a field is empty (std::nullopt). Setting a
// control from here is never a user change: it must not queue a write.
#pragma once

#include "model/MeterReading.h"
#include "model/ParameterBlock.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace model {

// The user has the focus in one of the editable fields; the decode keeps off it.
struct EditingFlags {
    bool CutoffEditing = false;
    bool Alarm1Editing = false;
    bool Alarm2Editing = false;
};

struct DeviceView {
    // Set together, only when the meter reports another DN than Edit2 shows:
    // the new Edit2 text and the new item list of ComboBox2 (14 items, or none
    // for an unknown DN); no item is selected by it.
    std::optional<std::string> Edit2;
    std::optional<std::vector<std::string>> ComboBox2Items;

    std::string ComboBox10Text; // pulse weight
    std::string ComboBox4Text;  // totaliser unit of L+
    std::string ComboBox5Text;  // totaliser unit of L-
    int ComboBox11Index = 0;    // totaliser unit beside the pulse weight (selected item)
    std::string ComboBox3Text;  // flow unit; empty for the undefined code 3
    int ComboBox6Index = 0;     // unit of alarm 1 (selected item)
    int ComboBox7Index = 0;     // unit of alarm 2 (selected item)

    std::vector<std::string> ListBox1Lines; // replaces every line

    std::optional<std::string> Edit8; // cut-off; nullopt while CutoffEditing
    std::string ComboBox9Text;        // time constant; empty past the table
    std::string ComboBox2Text;        // measuring range, every read

    std::optional<std::string> MaskEdit4; // alarm 1; nullopt while Alarm1Editing
    std::optional<std::string> MaskEdit5; // alarm 2; nullopt while Alarm2Editing
    std::string Edit3;                    // instantaneous flow

    std::string MaskEdit2;     // KorK
    std::string MaskEdit3;     // KorC
    std::string Edit4;         // L+
    std::string Edit5;         // L-
    std::string ComboBox8Text; // archive period; empty past the table
    std::string Edit1;         // version, UTF-8

    CachedIndexes Indexes; // the cached indexes after this read
};

// The reading in the device page's texts. edit2Text: what Edit2 shows now;
// cached: the indexes of the previous read; decimalSeparator: the locale's.
DeviceView DevicePageTexts(const MeterReading& reading, std::string_view edit2Text,
                           const EditingFlags& editing, const CachedIndexes& cached,
                           std::string_view decimalSeparator);

// ReadMeter, then DevicePageTexts.
DeviceView DecodeParameterBlock(const ParameterBlock& block, std::string_view edit2Text,
                                const EditingFlags& editing, const CachedIndexes& cached,
                                std::string_view decimalSeparator);

} // namespace model
