#include "obj/ordered_writer.hpp"

#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "io/interrupts.hpp"

namespace meshwright {

namespace {

constexpr size_t not_ready = static_cast<size_t>(-1);

// Buffers in flight per thread: one being formatted, one formatted and
// waiting for its turn to be written.
constexpr size_t buffers_per_thread = 2;

// Every thread formats chunks in turn. The thread that finishes the next
// chunk in file order writes it, and every chunk after it that is ready, so
// no thread waits for a writer and no core idles while there is work.
class Pipeline {
  public:
    Pipeline(size_t count, size_t buffer_bytes, unsigned threads, const FormatChunk& format, const WriteChunk& write)
        : count_(count), format_(format), write_(write), slots_(buffers_per_thread * threads + 2)
    {
        for (Slot& slot : slots_)
            slot.data.reset(new char[buffer_bytes]);
        helpers_.reserve(threads - 1);
        try {
            for (unsigned i = 1; i < threads; ++i)
                helpers_.emplace_back([this] {
                    // Interrupts are left to the thread that owns the output file.
                    const InterruptsHeld held;
                    work();
                });
        } catch (const std::system_error&) {
            // The system gives no more threads: those started do the work.
        }
    }

    ~Pipeline()
    {
        stop();
        for (std::thread& helper : helpers_)
            helper.join();
    }

    Pipeline(const Pipeline&) = delete;
    Pipeline& operator=(const Pipeline&) = delete;

    // Takes part in the work until every chunk is written, then passes on
    // what a write threw.
    void run()
    {
        work();
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return written_ == count_ || failure_; });
        if (failure_)
            std::rethrow_exception(failure_);
    }

  private:
    struct Slot {
        std::unique_ptr<char[]> data;
        size_t size = 0;
        size_t chunk = not_ready; // the formatted chunk it holds
    };

    Slot& slot_of(size_t chunk) { return slots_[chunk % slots_.size()]; }

    void stop()
    {
        {
            const std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
    }

    void work()
    {
        std::unique_lock lock(mutex_);
        for (;;) {
            // Chunk i reuses the slot of chunk i - slots, so it waits until
            // that one is written.
            changed_.wait(lock, [&] { return stopping_ || next_ >= count_ || next_ < written_ + slots_.size(); });
            if (stopping_ || next_ >= count_)
                return;
            const size_t index = next_++;
            Slot& slot = slot_of(index);
            lock.unlock();
            slot.size = format_(index, slot.data.get());
            lock.lock();
            slot.chunk = index;
            if (!writing_)
                write_ready_chunks(lock);
        }
    }

    // Writes chunks in order for as long as the next one is ready. Called
    // and returns with the lock held.
    void write_ready_chunks(std::unique_lock<std::mutex>& lock)
    {
        writing_ = true;
        while (!stopping_ && written_ < count_ && slot_of(written_).chunk == written_) {
            Slot& slot = slot_of(written_);
            lock.unlock();
            try {
                write_(slot.data.get(), slot.size);
            } catch (...) {
                lock.lock();
                failure_ = std::current_exception();
                stopping_ = true;
                break;
            }
            lock.lock();
            slot.chunk = not_ready;
            ++written_;
            changed_.notify_all();
        }
        writing_ = false;
        changed_.notify_all();
    }

    const size_t count_;
    const FormatChunk& format_;
    const WriteChunk& write_;
    std::vector<Slot> slots_;
    std::vector<std::thread> helpers_;
    std::mutex mutex_;
    std::condition_variable changed_;
    size_t next_ = 0;    // the next chunk to format
    size_t written_ = 0; // chunks written so far, in order
    bool writing_ = false;
    bool stopping_ = false;
    std::exception_ptr failure_;
};

} // namespace

void write_in_order(size_t count, size_t buffer_bytes, unsigned threads, const FormatChunk& format,
                    const WriteChunk& write)
{
    if (threads <= 1 || count <= 1) {
        const std::unique_ptr<char[]> buffer(new char[buffer_bytes]);
        for (size_t index = 0; index < count; ++index)
            write(buffer.get(), format(index, buffer.get()));
        return;
    }
    Pipeline pipeline(count, buffer_bytes, threads, format, write);
    pipeline.run();
}

} // namespace meshwright
