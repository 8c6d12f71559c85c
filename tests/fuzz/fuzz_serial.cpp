// Bytes from the serial line, in arbitrary chunks, through the frame decoder
// and the controller's start-up and call cycles, with the model behind them.
//
// Input: one config byte, a few blocked numbers, then operations (see
// LLVMFuzzerTestOneInput). Checked beyond "no crash": frames cut from the
// stream carry a valid checksum and do not depend on the chunking; the
// decoder stays within its bound and drops nothing while under it; send
// queues, status and mode stay in their bounds and sets; the start-up cycle
// never answers a call; every frame put on the line is well formed.

#include "fuzzprocess.h"
#include "commands/commandsender.h"
#include "commands/receivestream.h"
#include "commands/usartport.h"
#include "commands/usarttimerthread.h"
#include "console/console.h"
#include "log/logservice.h"
#include "tests/support/refcrc.h"
#include "zma/controllerkorvel2023.h"
#include "zma/modelkorvel2023.h"
#include "zma/settings.h"
#include "zma/viewkorveltesk.h"

#include <QCoreApplication>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The controller keeps its view, its decoder and its start-up flag to itself;
// explicit instantiation may name private members, so no driver header changes.
template <typename Tag, typename Tag::type Member>
struct Expose {
    friend typename Tag::type member(Tag) { return Member; }
};
struct ViewOf {
    using type = ViewKorvelTesk* ControllerKorvel2023::*;
    friend type member(ViewOf);
};
struct StreamOf {
    using type = ReceiveStream ControllerKorvel2023::*;
    friend type member(StreamOf);
};
struct IdentityPendingOf {
    using type = bool ControllerKorvel2023::*;
    friend type member(IdentityPendingOf);
};
template struct Expose<ViewOf, &ControllerKorvel2023::view>;
template struct Expose<StreamOf, &ControllerKorvel2023::receiveStream>;
template struct Expose<IdentityPendingOf, &ControllerKorvel2023::identityPending>;

ControllerKorvel2023* controller;
ModelKorvel2023* model;
Settings* settings;

void require(bool ok, const char* what)
{
    if (ok)
        return;
    fprintf(stderr, "fuzz_serial: property failed: %s\n", what);
    abort();
}

bool wellFormed(const QByteArray& frame)
{
    return frame.size() == FRAME_SIZE && uint8_t(frame.at(0)) == FRAME_START
        && uint8_t(frame.at(9)) == refCrc8(frame, 1, 9);
}

struct Reader {
    const uint8_t* p;
    size_t left;
    bool done() const { return left == 0; }
    uint8_t byte()
    {
        if (left == 0)
            return 0;
        --left;
        return *p++;
    }
    QByteArray bytes(size_t n)
    {
        n = n < left ? n : left;
        QByteArray out(reinterpret_cast<const char*>(p), int(n));
        p += n;
        left -= n;
        return out;
    }
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // No serial port opens, SPI is a loopback; the port is never read, the
    // test puts the line's bytes where the port's reader would.
    setenv("ZQ_BOARD_SERIAL", "/nonexistent/zma-fuzz-serial", 1);
    unsetenv("ZQ_BOARD_SPI");
    fuzz::startProcess("fuzz_serial", true);
    settings = new Settings();
    model = new ModelKorvel2023(settings);
    // Never started: without an event loop no timer fires; the test ticks.
    controller = new ControllerKorvel2023(model);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Reader in{data, size};
    ViewKorvelTesk* view = controller->*member(ViewOf());
    const ReceiveStream& controllerStream = controller->*member(StreamOf());
    bool& identityPending = controller->*member(IdentityPendingOf());

    // Config: intercom index, start-up or call cycle, bound of the lone decoder.
    const uint8_t config = in.byte();
    static const uint8_t kIntercoms[] = {10, 102, 121, 121};
    settings->setIntercom = kIntercoms[config & 3];
    settings->flagAdrGate = settings->setIntercom == 102 ? 1 : 0;
    const int bound = (config >> 3) == 0 ? ReceiveStream::kDefaultMaxPending : FRAME_SIZE + ((config >> 3) - 1) * 8;

    // A lost port empties everything the previous input left behind.
    identityPending = false;
    emit view->usart->portLost();
    model->mode = MODE_CMD;
    model->dialPlan.clearList(DialPlan::ImitList);
    model->dialPlan.clearList(DialPlan::BlackList);
    for (int n = in.byte() & 3; n > 0; --n)
        model->dialPlan.insert(DialPlan::BlackList, in.byte());
    identityPending = (config & 4) != 0;

    // A decoder of its own, fed the same chunks, shows what comes out of it.
    ReceiveStream lone(bound);
    QByteArray all;
    QList<QByteArray> loneFrames;
    qint64 overflow = 0;
    qint64 floodBytes = 0;
    qint64 droppedRead = 0;

    auto drainLone = [&] {
        QByteArray frame;
        while (lone.next(&frame)) {
            require(wellFormed(frame), "decoder gave a frame with a bad start or checksum");
            loneFrames.append(frame);
        }
        overflow += lone.takeOverflow();
        require(lone.pending() <= bound, "decoder holds more than its bound");
    };
    auto feed = [&](const QByteArray& chunk) {
        if (chunk.isEmpty())
            return; // the port's reader never hands over nothing
        view->usart->readBuffer.set_data_bounded(chunk, INT_MAX, UsartPort::kMaxReadBytes, &droppedRead);
        lone.append(chunk);
        all.append(chunk);
        require(lone.pending() <= bound, "decoder holds more than its bound");
    };
    auto check = [&] {
        require(controllerStream.pending() <= ReceiveStream::kDefaultMaxPending, "controller's decoder over its bound");
        require(model->snapshotSend().size() <= ModelKorvel2023::kMaxQueued, "link send queue over its bound");
        require(model->snapshotSendCmdMode().size() <= ModelKorvel2023::kMaxQueued, "command send queue over its bound");
        const uint8_t status = model->status;
        require(status == STATUS_FREE || status == STATUS_CALL || status == STATUS_PICKUP, "status out of its set");
        const uint8_t mode = model->mode;
        require(mode == MODE_CMD || mode == MODE_LINK, "mode out of its set");
        require(!identityPending || status == STATUS_FREE, "a call was handled before the shield's identity");
        // What the port's writer would put on the line.
        while (view->usart->writeBuffer.detect_data())
            require(wellFormed(view->usart->writeBuffer.get_data()), "malformed frame written to the line");
    };

    while (!in.done()) {
        const uint8_t op = in.byte();
        switch (op % 8) {
        case 0: // raw bytes
            feed(in.bytes(in.byte()));
            break;
        case 1:
        case 2: { // a valid frame, whole or in two chunks
            const uint8_t flags = in.byte();
            const uint8_t cmd = in.byte();
            QByteArray frame(FRAME_SIZE, char(0xFF));
            frame[1] = char(0x65);
            frame[2] = char(0x48);
            int at = 3;
            if (flags & 1)
                frame[at++] = char(LINK_MARKER);
            frame[at++] = char(cmd);
            for (int i = 0; i < 4; ++i)
                frame[at++] = char(in.byte());
            frame[9] = char(refCrc8(frame, 1, 9));
            if (flags & 2) {
                const int cut = 1 + (flags >> 2) % (FRAME_SIZE - 1);
                feed(frame.left(cut));
                feed(frame.mid(cut));
            } else {
                feed(frame);
            }
            break;
        }
        case 3:
        case 4: // the controller's 1 ms tick
            if (identityPending)
                controller->init_cycle();
            else
                controller->main_cycle();
            drainLone();
            break;
        case 5: // the parent's commands, from the console thread in the driver
            switch (in.byte() % 4) {
            case 0: model->pickup(); break;
            case 1: model->drop(); break;
            case 2: model->open_1(); break;
            default: model->open_2(); break;
            }
            break;
        case 6: // the repeat timer of the command sender fires
            QMetaObject::invokeMethod(view->commandSender, "repeatCmd", Qt::DirectConnection);
            break;
        default:
            if (op & 8) {
                emit view->usart->portLost();
            } else if (floodBytes < 64 * 1024) {
                // More than the decoders hold: a pattern repeated.
                const int n = (in.byte() + 1) * 64;
                const QByteArray pattern = in.bytes(1 + in.byte() % 16);
                if (pattern.isEmpty())
                    break;
                QByteArray chunk;
                while (chunk.size() < n)
                    chunk.append(pattern);
                chunk.truncate(n);
                floodBytes += n;
                feed(chunk);
            }
            break;
        }
        check();
    }
    drainLone();
    // Status lines leave through the writer thread; wait, so their memory is
    // freed within this input.
    Console::flush(1000);

    // Whatever the chunking, a decoder that dropped nothing gives exactly the
    // frames of the whole stream cut in one go.
    require(overflow <= all.size(), "more bytes dropped than came");
    if (all.size() <= bound)
        require(overflow == 0, "bytes dropped while under the bound");
    if (overflow == 0) {
        ReceiveStream whole(all.size() + FRAME_SIZE);
        require(whole.push(all) == loneFrames, "frames depend on how the stream was chunked");
    }
    return 0;
}
