#include "Worker.h"

#include <algorithm>

namespace model {

void StageLongWrite(modbus::ModbusRead& worker, uint8_t reg, int32_t value) {
    const auto v = static_cast<uint32_t>(value);
    uint8_t* data = worker.RxBuffer + modbus::kWriteDataOffset;
    data[0] = static_cast<uint8_t>(v >> 24);
    data[1] = static_cast<uint8_t>(v >> 16);
    data[2] = static_cast<uint8_t>(v >> 8);
    data[3] = static_cast<uint8_t>(v);
    worker.WriteRegister = reg;
    worker.WriteCount = 2;
    worker.WriteRequested = -1;
}

void StageShortWrite(modbus::ModbusRead& worker, uint8_t reg, uint8_t high, uint8_t low) {
    uint8_t* data = worker.RxBuffer + modbus::kWriteDataOffset;
    data[0] = high;
    data[1] = low;
    worker.WriteRegister = reg;
    worker.WriteCount = 1;
    worker.WriteRequested = -1;
}

ParameterBlock CopyParameterBlock(const modbus::ModbusRead& worker) {
    ParameterBlock block{};
    static_assert(sizeof worker.RxBuffer >= std::tuple_size_v<ParameterBlock>);
    std::copy_n(worker.RxBuffer, block.size(), block.begin());
    return block;
}

} // namespace model
