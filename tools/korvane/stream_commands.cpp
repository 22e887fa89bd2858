// korvane decode, dump and reencode: console octets read the way the host
// reads them.

#include "ember/ber/exception.h"
#include "ember/ber/output_buffer.h"
#include "ember/ber/tag.h"
#include "ember/ber/text_list.h"
#include "ember/ber/types.h"
#include "ember/tree/container.h"
#include "ember/tree/stream_reader.h"
#include "host/loopback.h"
#include "host/report_reader.h"
#include "protocol/protocol.h"
#include "tools/korvane/codec_input.h"
#include "tools/korvane/commands.h"
#include "tools/korvane/output/counting_reader.h"
#include "tools/korvane/output/json_output.h"
#include "tools/korvane/output/progress_meter.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <vector>

const char kDecodeHelp[] =
    "usage: korvane decode [--hex] [--chunk N] [--errors] [--all] [--json] [FILE]\n"
    "\n"
    "Feeds console octets, as console-data blocks, through the host's own\n"
    "report reader and prints every report the host would forward to the\n"
    "partner (after its limit of 29 characters and its dropping of a report\n"
    "equal to the last one), in order, one per line: the report text, then a\n"
    "line feed unless the text already ends in one.\n"
    "\n"
    "Blocks are N octets (the last one shorter), at most 65535 since the\n"
    "block's length field has 16 bits. A block of exactly 13 octets would be\n"
    "echoed by the host as a keep-alive instead of being decoded, so such a\n"
    "block is sent as 12 octets and its last octet begins the next block.\n"
    "\n"
    "options:\n"
    "  --hex       the input is hexadecimal text (white space is ignored)\n"
    "  --chunk N   octets per block, 1 or more (default 4096)\n"
    "  --errors    also print every decoding error the reader catches, in\n"
    "              order among the reports, as 'error CODE: MESSAGE'\n"
    "  --all       print every report the reader produced, before the host's\n"
    "              filtering\n"
    "  --json      print one JSON object per line instead, for every report\n"
    "              and every error (--errors implied), in the same order:\n"
    "              {\"report\":\"1,2,3,4,5,100\",\"path\":[1,2,3,4,5],\"value\":100,\n"
    "              \"type\":\"integer\",\"offset\":N} (type \"text\" for a text,\n"
    "              \"report\" the line as printed without --json) and\n"
    "              {\"error\":CODE,\"message\":\"...\",\"offset\":N}; offset is the\n"
    "              stream offset (from 0) of the octet at which the message\n"
    "              or the error ended\n"
    "  --help      show this text\n"
    "\n"
    "FILE defaults to standard input ('-' names it too). An input of more\n"
    "than 64 MiB shows a progress line on standard error when that is a\n"
    "terminal.\n"
    "\n"
    "exit status: 0 one report or more printed; 1 no report (the reason on\n"
    "standard error; error lines may still have been printed); 2 usage or\n"
    "I/O error.\n"
    "\n"
    "example:\n"
    "  echo '7F8FFFFED95C803080 A71B3119 A1173115 A2133111 A30F310D A40B3109\n"
    "        E5073105 6303020164 00000000' | korvane decode --hex\n"
    "  prints 1,2,3,4,5,100\n";

const char kDumpHelp[] =
    "usage: korvane dump [--hex] [--chunk N] [--plain] [--json] [FILE]\n"
    "\n"
    "Reads console octets with the host's synchronisation and error recovery\n"
    "(octets are skipped until a message start; a broken message is dropped)\n"
    "and writes, for every complete message, the XML-like dump of its root\n"
    "container exactly as the text list joins it (CR LF line ends).\n"
    "\n"
    "options:\n"
    "  --hex       the input is hexadecimal text (white space is ignored)\n"
    "  --chunk N   octets fed to the reader at a time, 1 or more (default 4096)\n"
    "  --plain     build the trees in the read-only (plain) mode instead of\n"
    "              the encodable mode\n"
    "  --json      print one JSON document per line and message instead:\n"
    "              {\"message\":N,\"offset\":N,\"root\":NODE}, a NODE being\n"
    "              {\"tag\":\"C-1\",\"class\":\"context\",\"number\":1,\"type\":17,\n"
    "              \"typeName\":\"Set\",\"children\":[NODE...]} or, for a value,\n"
    "              \"value\" and \"text\" (the value as the dump writes it)\n"
    "              instead of \"children\"\n"
    "  --help      show this text\n"
    "\n"
    "FILE defaults to standard input ('-' names it too). An input of more\n"
    "than 64 MiB shows a progress line on standard error when that is a\n"
    "terminal.\n"
    "\n"
    "exit status: 0 one message or more dumped; 1 no complete message (the\n"
    "reason on standard error); 2 usage or I/O error.\n"
    "\n"
    "example:\n"
    "  echo '7F8FFFFED95C803080 A1 07 31 05 63 03 02 01 05 00000000' | korvane dump --hex\n";

const char kReencodeHelp[] =
    "usage: korvane reencode [--hex] [--chunk N] [FILE]\n"
    "\n"
    "Reads console octets with the host's synchronisation and error recovery\n"
    "and writes, for every complete message, the encoding of its rebuilt root\n"
    "container (trees built in the encodable mode) as one line of upper-case\n"
    "hex pairs separated by single blanks.\n"
    "\n"
    "options:\n"
    "  --hex       the input is hexadecimal text (white space is ignored)\n"
    "  --chunk N   octets fed to the reader at a time, 1 or more (default 4096)\n"
    "  --help      show this text\n"
    "\n"
    "FILE defaults to standard input ('-' names it too). An input of more\n"
    "than 64 MiB shows a progress line on standard error when that is a\n"
    "terminal.\n"
    "\n"
    "exit status: 0 one message or more written; 1 no complete message (the\n"
    "reason on standard error); 2 usage or I/O error.\n"
    "\n"
    "example:\n"
    "  echo '7F8FFFFED95C803080 A1 07 31 05 63 03 02 01 05 00000000' | korvane reencode --hex\n";

namespace {

// Checks the options and opens the input; returns -1 to go on, else the exit
// status.
int Prepare(const char* name, const char* help, StreamOptions& options, CodecInput& input)
{
    if (options.help)
        return PrintHelp(help);
    std::string error;
    if (!FinishStreamOptions(options, error))
        return UsageError(name, error, help);
    if (!input.Open(options, error)) {
        std::fprintf(stderr, "%s: %s\n", CommandLabel(name).c_str(), error.c_str());
        return kExitUsage;
    }
    return -1;
}

std::string ErrorLine(const CEmber_Exception& error)
{
    return "error " + std::to_string(error.GetCode()) + ": " + error.GetMessage();
}

// The host's report reader, telling the tool what it produces and catches.
class DecodeReader : public CountingReader<CReportReader>
{
public:
    void OnMessageComplete() override { ++messages; }

    void OnError(const CEmber_Exception& error) override
    {
        ++errors;
        if (onError)
            onError(error);
    }

    // The text of the report being sent as the console sent it (blanks as
    // blanks, before the report's "~"), or null for an integer report or
    // while no report is being sent; only with keepConsoleTexts.
    const std::string* ConsoleText() const { return m_consoleText; }

    std::function<void(const char* line)> onReport;
    std::function<void(const CEmber_Exception& error)> onError;
    unsigned messages = 0;
    unsigned errors = 0;
    bool keepConsoleTexts = false;

protected:
    void SendReport(const char* line) override
    {
        std::string text;
        const char* console = GetReportConsoleText();
        if (keepConsoleTexts && console)
            text = console;
        m_consoleText = keepConsoleTexts && console ? &text : nullptr;
        if (onReport)
            onReport(line);
        CReportReader::SendReport(line);
        m_consoleText = nullptr;
    }

private:
    const std::string* m_consoleText = nullptr;
};

// Takes a complete message: its root, its number (from 1) and the stream
// offset of its last octet (exact only where the reader's exactOffsets is on).
using MessageHandler = std::function<void(CEmber_Node& root, uint64_t index, uint64_t offset)>;

// A plain stream reader handing over every complete message.
class MessageReader : public CountingReader<CEmber_StreamReader>
{
public:
    MessageReader(uint8_t mode, MessageHandler onMessage)
        : CountingReader<CEmber_StreamReader>(mode), m_onMessage(std::move(onMessage))
    {}

    void OnNodeComplete(CEmber_Node* node) override
    {
        if (node->GetParent() || node != GetRoot())
            return;
        ++messages;
        m_onMessage(*node, messages, Position());
    }

    void OnError(const CEmber_Exception& /*error*/) override { ++errors; }

    unsigned messages = 0;
    unsigned errors = 0;

private:
    MessageHandler m_onMessage;
};

std::string NoMessageReason(uint64_t octets, unsigned errors)
{
    if (octets == 0)
        return "the input is empty";
    return std::to_string(octets) + " octets read, " + std::to_string(errors) + " decoding error" +
           (errors == 1 ? "" : "s");
}

// Reads the whole input block by block, handing each to feed; stops early
// when standard output fails. The exit status for an I/O error, else -1.
int ReadAll(const char* name, CodecInput& input, ProgressMeter& progress,
            const std::function<void(const std::vector<uint8_t>& block)>& feed,
            const std::function<void()>& atEnd, const std::function<uint64_t()>& messages,
            const std::function<uint64_t()>& errors)
{
    std::vector<uint8_t> block;
    std::string error;
    std::string reason;
    while (input.Next(block, error)) {
        feed(block);
        progress.Update(input.Consumed(), messages(), errors());
        if (!OutputOk(reason))
            break;
    }
    if (error.empty() && OutputOk(reason))
        atEnd();
    progress.Finish(input.Consumed(), messages(), errors());
    if (!error.empty()) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s: %s\n", CommandLabel(name).c_str(), error.c_str());
        return kExitUsage;
    }
    if (!OutputOk(reason, true)) {
        std::fprintf(stderr, "%s: %s\n", CommandLabel(name).c_str(), reason.c_str());
        return kExitUsage;
    }
    return -1;
}

// Nothing came out: the reason, and a hint when the input was hex text
// read as octets.
int Nothing(const char* name, const std::string& reason, const CodecInput& input)
{
    std::fprintf(stderr, "%s: %s\n", CommandLabel(name).c_str(), reason.c_str());
    if (input.LooksLikeHex())
        std::fprintf(stderr, "%s: the input looks like hexadecimal text: try --hex\n",
                     CommandLabel(name).c_str());
    return kExitNothing;
}

int Decode(const StreamOptions& options, CodecInput& input)
{
    DecodeReader reader;
    CLoopback host(reader);
    if (!host.Ok()) {
        std::fprintf(stderr, "%s: %s\n", CommandLabel("decode").c_str(), host.Error().c_str());
        return kExitUsage;
    }

    // With --json every octet is fed on its own, so that the offsets are
    // exact; the reports and errors are the same as with any blocks.
    reader.exactOffsets = options.json;
    reader.keepConsoleTexts = options.json;
    const auto printReport = [&](const std::string& text) {
        if (options.json)
            WriteOut(JsonLine(ReportJson(text, reader.Position(), reader.ConsoleText())));
        else
            PrintLine(text);
    };
    ProgressMeter progress("decode", input.Size(),
                           ProgressMeter::Wanted(input.Size(), StandardErrorIsTerminal()));

    unsigned printed = 0;
    if (options.all) {
        reader.onReport = [&](const char* line) {
            printReport(line);
            ++printed;
        };
    }
    host.Partner().onBlock = [&](HWND, const COPYDATASTRUCT& block) {
        if (options.all || BlockKind(block.dwData) != BLOCK_REPORT || !block.lpData)
            return;
        const char* text = static_cast<const char*>(block.lpData);
        printReport(std::string(text, strnlen(text, block.cbData)));
        ++printed;
    };
    if (options.json)
        reader.onError = [&](const CEmber_Exception& error) {
            WriteOut(JsonLine(ErrorJson(error.GetCode(), error.GetMessage(), reader.Position())));
        };
    else if (options.errors)
        reader.onError = [](const CEmber_Exception& error) { PrintLine(ErrorLine(error)); };

    // Blocks are cut as if the whole input were at hand: a block is sent as
    // soon as the octets after it are known to be enough (ConsoleBlockLength
    // then gives the same length), the rest at the end.
    const size_t chunk = size_t(std::min<uint64_t>(options.chunk, kMaxConsoleBlock));
    std::vector<uint8_t> pending;
    const int status = ReadAll(
        "decode", input, progress,
        [&](const std::vector<uint8_t>& block) {
        pending.insert(pending.end(), block.begin(), block.end());
        size_t start = 0;
        while (pending.size() - start >= chunk) {
            const uint32_t length = ConsoleBlockLength(pending.size() - start, chunk);
            host.SendConsole(pending.data() + start, length, chunk);
            start += length;
        }
        pending.erase(pending.begin(), pending.begin() + std::ptrdiff_t(start));
        },
        [&] { host.SendConsole(pending.data(), pending.size(), chunk); },
        [&] { return reader.messages; }, [&] { return reader.errors; });
    if (status >= 0)
        return status;

    if (printed == 0)
        return Nothing("decode",
                       "no report (" + NoMessageReason(input.Decoded(), reader.errors) + ", " +
                           std::to_string(reader.messages) + " complete message" +
                           (reader.messages == 1 ? "" : "s") + ")",
                       input);
    return kExitOk;
}

int ForEachMessage(const char* name, const StreamOptions& options, CodecInput& input, uint8_t mode,
                   const MessageHandler& onMessage)
{
    MessageReader reader(mode, onMessage);
    reader.exactOffsets = options.json;
    ProgressMeter progress(name, input.Size(),
                           ProgressMeter::Wanted(input.Size(), StandardErrorIsTerminal()));
    // Blocks of --chunk octets from the start of the input; one that spans
    // two reads is fed in two parts, which the reader cannot tell apart.
    uint64_t inBlock = 0;
    const int status = ReadAll(
        name, input, progress,
        [&](const std::vector<uint8_t>& block) {
        size_t position = 0;
        while (position < block.size()) {
            const size_t size =
                size_t(std::min<uint64_t>(options.chunk - inBlock, block.size() - position));
            reader.FeedBlock(block.data() + position, uint32_t(size));
            position += size;
            inBlock = (inBlock + size) % options.chunk;
        }
        },
        [] {}, [&] { return reader.messages; }, [&] { return reader.errors; });
    if (status >= 0)
        return status;
    if (reader.messages == 0)
        return Nothing(
            name, "no complete message (" + NoMessageReason(input.Decoded(), reader.errors) + ")",
            input);
    return kExitOk;
}

// Runs one codec subcommand: options, input, then `body`; out of memory is
// an I/O error.
template <typename Body>
int RunStream(const char* name, const char* help, StreamOptions& options, Body body)
{
    try {
        CodecInput input;
        const int status = Prepare(name, help, options, input);
        if (status >= 0)
            return status;
        return body(input);
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "%s: out of memory\n", CommandLabel(name).c_str());
        return kExitUsage;
    }
}

} // namespace

CommandRun DefineDecode(CLI::App& command)
{
    auto options = std::make_shared<StreamOptions>();
    options->allowErrors = true;
    options->allowAll = true;
    options->allowJson = true;
    AddStreamOptions(command, *options);
    return [options] {
        return RunStream("decode", kDecodeHelp, *options,
                         [&](CodecInput& input) { return Decode(*options, input); });
    };
}

CommandRun DefineDump(CLI::App& command)
{
    auto options = std::make_shared<StreamOptions>();
    options->allowPlain = true;
    options->allowJson = true;
    AddStreamOptions(command, *options);
    return [options] {
        return RunStream("dump", kDumpHelp, *options, [&](CodecInput& input) {
            const uint8_t mode = options->plain ? 0 : 1;
            if (options->json)
                return ForEachMessage("dump", *options, input, mode,
                                      [](CEmber_Node& root, uint64_t index, uint64_t offset) {
                    WriteOut(JsonLine(MessageJson(root, index, offset)));
                });
            return ForEachMessage("dump", *options, input, mode,
                                  [](CEmber_Node& root, uint64_t, uint64_t) {
                CEmber_TextList list;
                root.Dump(list, 0);
                WriteOut(list.Join());
            });
        });
    };
}

CommandRun DefineReencode(CLI::App& command)
{
    auto options = std::make_shared<StreamOptions>();
    AddStreamOptions(command, *options);
    return [options] {
        return RunStream("reencode", kReencodeHelp, *options, [&](CodecInput& input) {
            return ForEachMessage("reencode", *options, input, 1,
                                  [](CEmber_Node& root, uint64_t, uint64_t) {
                CEmber_OutputBuffer buffer;
                root.Encode(buffer);
                PrintLine(HexText(buffer.Data(), buffer.Used()));
            });
        });
    };
}
