#include "InstrumentModel.h"

#include "FeatureListImage.h"
#include "platform/endian/ByteOrder.h"
#include "model/AuxDioStreams.h"
#include "model/ControlLoopSettings.h"
#include "model/PowerOnSettings.h"
#include "model/FrontEndScope.h"
#include "model/SignalPathStreams.h"
#include "model/SystemCpuPrint.h"

namespace tarnix {
namespace sim {

namespace {

constexpr uint32_t kStatusFlagsOffset = 8;  // the flag word of a STATUS block

uint32_t boardWordOf(const ModelOptions& options) {
    return options.boardWord.value_or(options.variant.hardwareRevision);
}

}  // namespace

InstrumentModel::InstrumentModel(std::shared_ptr<SimInstrument> instrument, const ModelOptions& options,
                                 const std::array<uint8_t, 16>& storedDigest)
    : instrument_(std::move(instrument)),
      list_(std::make_shared<FeatureListRegion>(apertureImage(
          options.featureRecords.empty() ? featureRecords(options.variant) : options.featureRecords))),
      mailbox_(std::make_shared<MailboxRegion>(storedDigest, boardWordOf(options))),
      start_(std::chrono::steady_clock::now()) {
    using namespace layout;
    instrument_->addRegion(kAperture, kApertureBytes, list_);
    instrument_->addRegion(kMailboxCommand, 8, mailbox_);
    instrument_->addRegion(kMailboxData, kMailboxDataBytes, mailbox_);
    const uint32_t cpus = options.variant.cpus;
    auto cpu = std::make_shared<CpuRegion>(cpus);
    instrument_->addRegion(kCpuControl, kCpuControlStride * cpus,
                           std::make_shared<CpuPrintRegion>(cpu, kCpuControl, kCpuControlStride, kCpuPrintWindow,
                                                            kCpuStatusBytes));
    instrument_->addRegion(kCpuStatus, kCpuStatusBytes * cpus, cpu);
    presetControlLoops(*instrument_, options.variant);
    // Bits 0-2 of the board word: the hardware revision; any but 0 selects
    // the signal inputs' gain-range tables.
    presetPowerOnSettings(*instrument_, options.variant.signalInputs, (boardWordOf(options) & 7) != 0);

    uint8_t word[8];
    le::put32(word, boardWordOf(options));
    instrument_->writeRegisters(kBoardRegister, word, 4);
    le::put64(word, options.optionsMask);
    instrument_->writeRegisters(kFeatures + kOptionsMaskOffset, word, 8);
    // The sample streams know the blocks of the models' lists only.
    if (options.featureRecords.empty() && options.auxDioSampleHz != 0)
        auxDioStreams_ = std::make_unique<AuxDioStreams>(
            instrument_, options.auxDioSampleHz, [list = list_] { return list->wasRead(); }, start_, flags_);
    if (options.featureRecords.empty())
        signalPathStreams_ = std::make_unique<SignalPathStreams>(
            instrument_, [list = list_] { return list->wasRead(); }, start_, flags_);
    if (options.featureRecords.empty())
        scope_ = std::make_unique<FrontEndScope>(instrument_, [list = list_] { return list->wasRead(); }, flags_);
    // Last: its beats look at the streams.
    heartbeat_ = std::make_unique<Heartbeat>(options.heartbeatHz, [this] { beat(); });
}

InstrumentModel::~InstrumentModel() { heartbeat_.reset(); }

void InstrumentModel::pushFeatureList(const std::vector<uint8_t>& records) {
    const std::vector<uint8_t> image = list_->replace(apertureImage(records));
    instrument_->sendMessage(layout::kAperture, image.data(), uint32_t(image.size()));
}

void InstrumentModel::beat() {
    // A host that has not read the list yet does not expect the status stream.
    if (!list_->wasRead()) return;
    if (signalPathStreams_) signalPathStreams_->checkOverflow();
    uint8_t block[layout::kStatusBytes] = {};
    const uint64_t ticks = deviceTicksSince(start_);
    le::put32(block, uint32_t(ticks));
    le::put16(block + 4, uint16_t(ticks >> 32));
    const uint32_t flags = flags_->take();
    le::put32(block + kStatusFlagsOffset, flags);
    // A block that does not go out leaves its losses to the next one.
    if (!instrument_->offerMessage(layout::kStatus, block, sizeof block, kHeartbeatQueueLimit)) flags_->raise(flags);
}

}  // namespace sim
}  // namespace tarnix
