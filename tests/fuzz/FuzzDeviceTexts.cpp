// A bridge's texts (product, serial, any text from outside) as the console program writes them:
// into JSON, the bench's CSV record, the support log's line and the terminal.

#include "WrittenTexts.h"

#include <fuzzer/FuzzedDataProvider.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    std::vector<std::string> texts;
    while (input.remaining_bytes() > 0 && texts.size() < 4)
        texts.push_back(input.ConsumeRandomLengthString(200));
    if (texts.empty())
        texts.push_back("");
    CheckWrittenTexts(texts);
    return 0;
}
