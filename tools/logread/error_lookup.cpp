#include "error_names.h"

const ErrorName* FindErrorName(ErrorFamily family, uint32_t number)
{
    const ErrorName* table = WIN32_ERROR_NAMES;
    size_t count = WIN32_ERROR_NAME_COUNT;
    if (family == ErrorFamily::ConfigRet) {
        table = CONFIGRET_NAMES;
        count = CONFIGRET_NAME_COUNT;
    } else if (family == ErrorFamily::HResult) {
        table = HRESULT_NAMES;
        count = HRESULT_NAME_COUNT;
    }
    size_t low = 0, high = count;
    while (low < high) {
        size_t middle = low + (high - low) / 2;
        if (table[middle].number < number)
            low = middle + 1;
        else
            high = middle;
    }
    return low < count && table[low].number == number ? &table[low] : nullptr;
}
