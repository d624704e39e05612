// Binary G-code: any bytes are read or refused without failing; a file that is read, written
// again in its form, reads back to the same text and kept blocks in the same form.

#include "core/container/BinaryGCode.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArrayView in(reinterpret_cast<const char*>(data), qsizetype(size));
    const BinaryGCode::Decoded decoded = BinaryGCode::decode(in, 1 << 20);
    if (!decoded.ok()) {
        if (decoded.problem.isEmpty() || !decoded.text.isEmpty())
            std::abort();
        return 0;
    }
    QString problem;
    const QByteArray file = BinaryGCode::encode(decoded.container, decoded.text, &problem);
    if (file.isEmpty())
        return decoded.text.contains('\xff') ? 0 : (std::abort(), 0);
    const BinaryGCode::Decoded again = BinaryGCode::decode(file, 1 << 21);
    if (!again.ok() || again.text != decoded.text || again.container.before != decoded.container.before ||
        again.container.after != decoded.container.after ||
        again.container.compression != decoded.container.compression ||
        again.container.encoding != decoded.container.encoding)
        std::abort();
    return 0;
}
