#pragma once
#include "core/QVException.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <type_traits>
#include <utility>

namespace tarnix {

// A bounded FIFO between one reading and one writing thread. Nothing blocks
// and nothing allocates after construction: a full or empty FIFO just makes
// the begin operation (and so the accessor) fail, and the caller decides.
//
// Space is reserved with beginWrite, filled in place and published with
// commitBlock/endWrite; data is taken with beginRead and consumed with
// consumeBlock/endRead. Until then abortWrite/abortRead leave the FIFO as it
// was. Code normally goes through QVFifo::DataAccessor, which pairs these
// calls with the side's lock and undoes an uncommitted access when it ends.
class QVFifo {
public:
    QVFifo() = default;
    QVFifo(const QVFifo&) = delete;
    QVFifo& operator=(const QVFifo&) = delete;
    virtual ~QVFifo() = default;

    // Empties the FIFO. Only while no reader or writer is active.
    virtual void reset() = 0;
    // What the FIFO holds: blocks (BufferFifo) or bytes (RingFifo).
    virtual unsigned used() const = 0;
    // Maximum number of blocks (BufferFifo) or bytes (RingFifo).
    virtual unsigned capacity() const = 0;

    virtual bool tryLockReader() = 0;
    virtual void unlockReader() = 0;
    virtual bool tryLockWriter() = 0;
    virtual void unlockWriter() = 0;

    // Reserves length bytes for one write; false when there is no room.
    virtual bool beginWrite(uint8_t*& data, uint32_t length) = 0;
    // Publishes the whole reservation.
    virtual void commitBlock() = 0;
    // Publishes the first length bytes of the reservation; throws
    // QVOverflowException when length exceeds the reservation.
    virtual void endWrite(uint32_t length) = 0;
    virtual void abortWrite() = 0;

    // Takes the next data to read; length 0 asks for all that can be had at
    // once, and length returns what was taken. False when there is nothing.
    virtual bool beginRead(uint8_t*& data, uint32_t& length) = 0;
    // Consumes all that beginRead returned.
    virtual void consumeBlock() = 0;
    // Consumes the first length bytes of it; throws QVUnderrunException when
    // length exceeds what beginRead returned.
    virtual void endRead(uint32_t length) = 0;
    // Gives up the read; the data stays.
    virtual void abortRead() = 0;

    struct WriterPolicy;
    struct ReaderPolicy;
    template <class Policy>
    class DataAccessor;
};

// Slots 3 to 6 of QVFifo: admits at most READERS open readers and WRITERS open
// writers at a time. This catches a nested second accessor on one side; it
// does not make a side safe for several unsynchronised threads (owners that
// let several threads write serialise them with a mutex of their own).
template <unsigned READERS, unsigned WRITERS>
class QVAccessibleFifo : public QVFifo {
public:
    bool tryLockReader() override { return readers_.tryTake(READERS); }
    void unlockReader() override { readers_.release(); }
    bool tryLockWriter() override { return writers_.tryTake(WRITERS); }
    void unlockWriter() override { writers_.release(); }

private:
    // Each side's pair on a cache line of its own, so that the reader's and
    // the writer's accessors do not slow each other down.
    struct alignas(64) SideCounters {
        std::atomic<uint32_t> taken{0};
        std::atomic<uint32_t> released{0};

        // One thread at a time holds a side (see above), so plain loads and
        // stores do. A locked read-modify-write would make every accessor
        // wait until the stores before it have reached memory: a stream
        // writer opens one per sample, and its stores into the buffer often
        // wait for their cache lines.
        bool tryTake(unsigned limit) {
            const uint32_t t = taken.load(std::memory_order_relaxed);
            if (t - released.load(std::memory_order_relaxed) >= limit) return false;
            taken.store(t + 1, std::memory_order_relaxed);
            return true;
        }
        void release() { released.store(released.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed); }
    };

    SideCounters readers_;
    SideCounters writers_;
};

// The side-specific steps of a DataAccessor.
struct QVFifo::WriterPolicy {
    static constexpr bool isWriter = true;
    static bool lock(QVFifo& f) { return f.tryLockWriter(); }
    static void unlock(QVFifo& f) { f.unlockWriter(); }
    static bool begin(QVFifo& f, uint8_t*& data, uint32_t& length) {
        return f.beginWrite(data, length);
    }
    static void commitAll(QVFifo& f) { f.commitBlock(); }
    static void commitPart(QVFifo& f, uint32_t length) { f.endWrite(length); }
    static void abort(QVFifo& f) { f.abortWrite(); }
};

struct QVFifo::ReaderPolicy {
    static constexpr bool isWriter = false;
    static bool lock(QVFifo& f) { return f.tryLockReader(); }
    static void unlock(QVFifo& f) { f.unlockReader(); }
    static bool begin(QVFifo& f, uint8_t*& data, uint32_t& length) {
        return f.beginRead(data, length);
    }
    static void commitAll(QVFifo& f) { f.consumeBlock(); }
    static void commitPart(QVFifo& f, uint32_t length) { f.endRead(length); }
    static void abort(QVFifo& f) { f.abortRead(); }
};

// Scoped access to one write (WriterPolicy) or one read (ReaderPolicy).
//
// The accessor is valid when the side's lock and the begin operation both
// succeeded; a full (writer) or empty (reader) FIFO is no error, just an
// invalid accessor. Committing publishes (writer) or consumes (reader) and
// makes the accessor invalid. An accessor that ends while still valid aborts:
// the reservation is dropped, or the read data stays for the next reader.
//
// The side's lock is taken before the begin operation, so a refused nested
// accessor never touches the reservation or read of the open one.
template <class Policy>
class QVFifo::DataAccessor {
public:
    // Shares ownership of the FIFO for the accessor's lifetime. Writer: length
    // bytes are reserved. Reader: length 0 takes all that can be had at once.
    // Throws QVException "Invalid FIFO (NULL pointer)." for an empty reference.
    DataAccessor(const std::shared_ptr<QVFifo>& fifo, uint32_t length)
        : fifo_(fifo.get()), owner_(fifo) {
        if (!fifo_) QV_THROW(QVException("Invalid FIFO (NULL pointer)."));
        open(length);
    }
    // The caller keeps the FIFO alive.
    explicit DataAccessor(QVFifo& fifo, uint32_t length = 0) : fifo_(&fifo) { open(length); }

    DataAccessor(const DataAccessor&) = delete;
    DataAccessor& operator=(const DataAccessor&) = delete;
    DataAccessor(DataAccessor&& other) noexcept
        : fifo_(other.fifo_), owner_(std::move(other.owner_)), length_(other.length_),
          data_(other.data_), valid_(other.valid_) {
        other.valid_ = false;
    }
    DataAccessor& operator=(DataAccessor&&) = delete;

    ~DataAccessor() {
        if (valid_) {
            valid_ = false;
            Policy::abort(*fifo_);
            Policy::unlock(*fifo_);
        }
    }

    bool isValid() const { return valid_; }
    explicit operator bool() const { return valid_; }
    uint32_t length() const { return length_; }
    uint8_t* data() const { return data_; }
    uint8_t* end() const { return data_ + length_; }

    // Throws "Data not valid anymore." or "Index out of range.".
    uint8_t& operator[](uint32_t index) const {
        checkValid();
        if (index >= length_) QV_THROW(QVException("Index out of range."));
        return data_[index];
    }

    // Publishes (writer) or consumes (reader) everything the accessor holds.
    void commitAll() {
        checkValid();
        Policy::commitAll(*fifo_);
        close();
    }

    // Writer: copies length bytes into the reservation and publishes them.
    template <class P = Policy, std::enable_if_t<P::isWriter, int> = 0>
    void commit(const void* bytes, uint32_t length) {
        checkLength(length);
        if (length) std::memcpy(data_, bytes, length);
        finish(length);
    }

    // Reader: consumes the first length bytes; the rest is read next time.
    template <class P = Policy, std::enable_if_t<!P::isWriter, int> = 0>
    void commit(uint32_t length) {
        checkLength(length);
        finish(length);
    }

    // Reader: copies the first length bytes into buffer, then consumes them.
    template <class P = Policy, std::enable_if_t<!P::isWriter, int> = 0>
    void commit(void* buffer, uint32_t length) {
        checkLength(length);
        if (length) std::memcpy(buffer, data_, length);
        finish(length);
    }

private:
    void open(uint32_t length) {
        if (!Policy::lock(*fifo_)) return;
        if (!Policy::begin(*fifo_, data_, length)) {
            Policy::unlock(*fifo_);
            return;
        }
        length_ = length;
        valid_ = true;
    }
    void checkValid() const {
        if (!valid_) QV_THROW(QVException("Data not valid anymore."));
    }
    void checkLength(uint32_t length) const {
        checkValid();
        if (length > length_) QV_THROW(QVException("Length parameter is longer than data."));
    }
    void finish(uint32_t length) {
        if (length == length_)
            Policy::commitAll(*fifo_);
        else
            Policy::commitPart(*fifo_, length);
        close();
    }
    void close() {
        valid_ = false;
        Policy::unlock(*fifo_);
    }

    QVFifo* fifo_;
    std::shared_ptr<QVFifo> owner_;
    uint32_t length_ = 0;
    uint8_t* data_ = nullptr;
    bool valid_ = false;
};

typedef QVFifo::DataAccessor<QVFifo::WriterPolicy> FifoWriter;
typedef QVFifo::DataAccessor<QVFifo::ReaderPolicy> FifoReader;

}  // namespace tarnix
