#include "osc/OSCValue.h"

#include <cstring>

#include "basics/Log.h"

namespace vitrine {

namespace {

constexpr int64_t round4(int64_t n) {
    return (n + 3) & ~int64_t{3};
}

void writeBigEndian32(uint8_t* out, uint32_t word) {
    out[0] = static_cast<uint8_t>(word >> 24);
    out[1] = static_cast<uint8_t>(word >> 16);
    out[2] = static_cast<uint8_t>(word >> 8);
    out[3] = static_cast<uint8_t>(word);
}

const std::string kEmptyString;

}  // namespace

OSCValue::OSCValue(Private, OSCValueType type, Payload payload)
    : valueType(type), value(std::move(payload)) {}

std::shared_ptr<OSCValue> OSCValue::createWithInt(int32_t number) {
    return std::make_shared<OSCValue>(Private{}, OSCValInt, number);
}

std::shared_ptr<OSCValue> OSCValue::createWithFloat(float number) {
    return std::make_shared<OSCValue>(Private{}, OSCValFloat, number);
}

std::shared_ptr<OSCValue> OSCValue::createWithString(const std::optional<std::string>& text) {
    if (!text) {
        Log::write("\t\terr: %s - BAIL", "-[OSCValue initWithString:]");
        return nullptr;
    }
    return std::make_shared<OSCValue>(Private{}, OSCValString,
                                      std::make_shared<const std::string>(*text));
}

int32_t OSCValue::intValue() const {
    const auto* number = std::get_if<int32_t>(&value);
    return number ? *number : 0;
}

float OSCValue::floatValue() const {
    const auto* number = std::get_if<float>(&value);
    return number ? *number : 0.0f;
}

const std::string& OSCValue::stringValue() const {
    const auto* text = std::get_if<std::shared_ptr<const std::string>>(&value);
    return text && *text ? **text : kEmptyString;
}

int64_t OSCValue::bufferLength() const {
    switch (valueType) {
        case OSCValInt:
        case OSCValFloat:
            return 4;
        case OSCValString:
            // The terminating NUL is part of the field, so an empty string still takes 4 bytes.
            return round4(static_cast<int64_t>(stringValue().size()) + 1);
        default:
            return 0;
    }
}

int64_t OSCValue::typeSignatureLength() const {
    switch (valueType) {
        case OSCValUnknown:
            return 0;
        default:
            return 1;
    }
}

void OSCValue::writeToBuffer(uint8_t* buffer, int32_t* typeOffset, int32_t* dataOffset) const {
    if (!buffer || !typeOffset || !dataOffset) return;
    uint8_t* const data = buffer + *dataOffset;
    switch (valueType) {
        case OSCValInt:
            buffer[(*typeOffset)++] = 'i';
            writeBigEndian32(data, static_cast<uint32_t>(intValue()));
            *dataOffset += 4;
            break;
        case OSCValFloat: {
            uint32_t bits;
            const float number = floatValue();
            std::memcpy(&bits, &number, sizeof bits);
            buffer[(*typeOffset)++] = 'f';
            writeBigEndian32(data, bits);
            *dataOffset += 4;
            break;
        }
        case OSCValString: {
            const std::string& text = stringValue();
            buffer[(*typeOffset)++] = 's';
            std::memcpy(data, text.data(), text.size());
            *dataOffset += static_cast<int32_t>(bufferLength());
            break;
        }
        default:
            break;
    }
}

std::string OSCValue::description() const {
    switch (valueType) {
        case OSCValInt:
            return stringWithFormat("<OSCVal i %d>", intValue());
        case OSCValFloat:
            return stringWithFormat("<OSCVal f %f>", static_cast<double>(floatValue()));
        case OSCValString:
            return "<OSCVal s " + stringValue() + ">";
        default:
            return "<OSCValue ?>";
    }
}

std::string OSCValue::lengthyDescription() const {
    switch (valueType) {
        case OSCValInt:
            return stringWithFormat("integer %d", intValue());
        case OSCValFloat:
            return stringWithFormat("float %f", static_cast<double>(floatValue()));
        case OSCValString:
            return "string \"" + stringValue() + "\"";
        default:
            return "?";
    }
}

std::shared_ptr<OSCValue> OSCValue::copy() const {
    switch (valueType) {
        case OSCValUnknown:
            return nullptr;
        default:
            return std::make_shared<OSCValue>(Private{}, valueType, value);
    }
}

double OSCValue::calculateDoubleValue() const {
    switch (valueType) {
        case OSCValInt:
            return intValue();
        case OSCValFloat:
            return floatValue();
        default:
            return 0.0;
    }
}

float OSCValue::calculateFloatValue() const {
    return static_cast<float>(calculateDoubleValue());
}

std::string OSCValue::descriptionOfValues(const std::vector<std::shared_ptr<OSCValue>>& values) {
    std::string text = "(";
    for (size_t i = 0; i < values.size(); ++i) {
        if (i) text += ", ";
        text += values[i] ? values[i]->description() : "(null)";
    }
    return text + ")";
}

}  // namespace vitrine
