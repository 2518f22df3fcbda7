#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <limits>
#include <memory>
#include <new>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "engine/scoring.h"
#include "engine/scoring_memory.h"
#include "image/huge_pages.h"
#include "likeness/likeness.h"
#include "metric/block_score.h"

namespace likeness {

namespace {

// What scoring bands found out about each picture, on one thread.
struct Findings {
    bool colour[2] = {false, false};
    bool ended[2] = {false, false};  // the file ended before its rows did: it shrank meanwhile
};

// The most bytes of each file read and scored as one piece of work: the rows stay in the cache
// from being read to being scored, and the system calls, which cost dear on a virtual machine,
// are few. On two threads 256 KiB took 5 to 15 % less time than 128 or 512 KiB on large pairs.
// On one thread the buffers have no huge page (see ScoringMemory), each 4 KiB of them costs a
// page fault, and 32 KiB took a 1024 x 1024 pair from 5.6 to 3.6 ms.
constexpr std::size_t kPieceBytes = std::size_t{256} << 10;
constexpr std::size_t kLonePieceBytes = std::size_t{32} << 10;

// Bands in a piece: as many as fit in pieceBytes of either file, at least one.
int bandsPerPiece(const SourceReader& first, const SourceReader& second, std::size_t pieceBytes) {
    const std::size_t band = kBlockSize * std::max(first.stride, second.stride);
    return static_cast<int>(std::max<std::size_t>(pieceBytes / band, 1));
}

std::size_t roundUp(std::size_t bytes, std::size_t unit) {
    return (bytes + unit - 1) / unit * unit;
}

// The buffers of one thread: the stored rows of both files, and a band's grey levels where they
// are taken out of blue-green-red pixels, each starting a page; or their sizes.
template <class T>
struct PieceBuffers {
    T stored[2] = {};
    T grey[2] = {};
};

PieceBuffers<std::size_t> pieceSizes(const SourceReader& first, const SourceReader& second,
                                     int pieceBands) {
    const SourceReader* pictures[2] = {&first, &second};
    PieceBuffers<std::size_t> sizes;
    for (int i = 0; i < 2; ++i) {
        if (pictures[i]->placed)
            sizes.stored[i] = roundUp(
                static_cast<std::size_t>(pieceBands) * kBlockSize * pictures[i]->stride, kPage);
        if (pictures[i]->placed && pictures[i]->pixels == Pixels::kBlueGreenRed)
            sizes.grey[i] = roundUp(kBlockSize * static_cast<std::size_t>(first.width), kPage);
    }
    return sizes;
}

std::size_t totalSize(const PieceBuffers<std::size_t>& sizes) {
    return sizes.stored[0] + sizes.stored[1] + sizes.grey[0] + sizes.grey[1];
}

// The buffers of those sizes, one after the other from memory on.
PieceBuffers<std::uint8_t*> placeBuffers(const PieceBuffers<std::size_t>& sizes,
                                         std::uint8_t* memory) {
    PieceBuffers<std::uint8_t*> buffers;
    buffers.stored[0] = memory;
    buffers.stored[1] = buffers.stored[0] + sizes.stored[0];
    buffers.grey[0] = buffers.stored[1] + sizes.stored[1];
    buffers.grey[1] = buffers.grey[0] + sizes.grey[0];
    return buffers;
}

// Scores the bands of one piece into scores, the first band's blocks first.
void scorePiece(const SourceReader& first, const SourceReader& second, int pieceBands, int piece,
                PieceBuffers<std::uint8_t*>* buffers, double* scores, Findings* findings) {
    const int fromBand = piece * pieceBands;
    const int bands = std::min(pieceBands, first.height / kBlockSize - fromBand);
    const int y0 = fromBand * kBlockSize;
    const GreyRows a =
        storedRows(first, y0, bands * kBlockSize, buffers->stored[0], &findings->ended[0]);
    const GreyRows b =
        storedRows(second, y0, bands * kBlockSize, buffers->stored[1], &findings->ended[1]);
    const auto width = static_cast<std::size_t>(first.width);
    for (std::ptrdiff_t band = 0; band < bands; ++band, scores += width / kBlockSize) {
        const std::ptrdiff_t rows = band * kBlockSize;
        const GreyRows greyA = greyBand(first, {a.data + rows * a.stride, a.stride}, kBlockSize,
                                        buffers->grey[0], &findings->colour[0]);
        const GreyRows greyB = greyBand(second, {b.data + rows * b.stride, b.stride}, kBlockSize,
                                        buffers->grey[1], &findings->colour[1]);
        scoreBand(greyA, greyB, width, scores);
    }
}

// Pairs of fewer pixels are scored on one thread: starting another costs more than it saves.
constexpr std::int64_t kThreadedPixels = std::int64_t{1} << 21;
// Pieces scored on two threads that may wait to be added up: enough that neither thread waits
// for the other but at the very end.
constexpr int kSlots = 8;

// Both threads take the next piece whenever they are free and score it into a ring of slots;
// the first thread adds the slots up in the order of the pieces, so the mean keeps its bits.
// Both threads own it, so that neither waits for the other to end: whichever lets go last
// releases the memory.
struct Scoring {
    Scoring(const SourceReader& a, const SourceReader& b, int pieceCount, int bandsInPiece,
            int threads)
        : first(a),
          second(b),
          pieceBands(bandsInPiece),
          pieces(pieceCount),
          pieceBlocks(static_cast<std::size_t>(bandsInPiece) *
                      static_cast<std::size_t>(a.width / kBlockSize)),
          slotCount(threads == 1 ? 1 : kSlots),
          ready(std::make_unique<std::atomic<int>[]>(slotCount)),
          sizes(pieceSizes(a, b, bandsInPiece)),
          slotBytes(
              roundUp(static_cast<std::size_t>(slotCount) * pieceBlocks * sizeof(double), kPage)),
          memory(slotBytes + static_cast<std::size_t>(threads) * totalSize(sizes)),
          slots(reinterpret_cast<double*>(memory.data())) {
        for (int i = 0; i < threads; ++i) {
            buffers[i] = placeBuffers(
                sizes, memory.data() + slotBytes + static_cast<std::size_t>(i) * totalSize(sizes));
        }
    }

    const SourceReader& first;  // read only while pieces are scored
    const SourceReader& second;
    const int pieceBands;
    const int pieces;
    const std::size_t pieceBlocks;                    // scores in a whole piece
    const int slotCount;                              // kSlots, or 1 for one thread
    const std::unique_ptr<std::atomic<int>[]> ready;  // for each slot, 1 + the piece in it
    const PieceBuffers<std::size_t> sizes;            // of each thread's buffers
    const std::size_t slotBytes;                      // of all the slots
    const ScoringMemory memory;                       // the slots, then each thread's buffers
    double* const slots;
    std::atomic<int> next{0};                // the next piece to be taken
    std::atomic<int> added{0};               // pieces added up so far
    std::atomic<bool> placed{false};         // the second thread is on its way to another core
    PieceBuffers<std::uint8_t*> buffers[2];  // each thread's
    Findings findings[2];
};

double* slotOf(const Scoring& scoring, int piece) {
    return scoring.slots +
           static_cast<std::size_t>(piece % scoring.slotCount) * scoring.pieceBlocks;
}

// Scores a piece into its slot, once the piece that had the slot before has been added up.
void scoreIntoSlot(Scoring* scoring, int piece, PieceBuffers<std::uint8_t*>* buffers,
                   Findings* findings) {
    for (int added = scoring->added.load(); piece >= added + scoring->slotCount;
         added = scoring->added.load()) {
        scoring->added.wait(added);
    }
    scorePiece(scoring->first, scoring->second, scoring->pieceBands, piece, buffers,
               slotOf(*scoring, piece), findings);
    std::atomic<int>& ready = scoring->ready[piece % scoring->slotCount];
    ready.store(piece + 1);
    ready.notify_one();
}

// A new thread waits for its turn on the core of the thread that started it, which on a virtual
// machine takes milliseconds while the other core idles. So the second thread is sent to the other
// cores as it starts, and lets itself go anywhere again once it runs.
struct Cores {
    cpu_set_t allowed;
    bool known;
};

Cores allowedCores() {
    Cores cores{};
    cores.known = sched_getaffinity(0, sizeof cores.allowed, &cores.allowed) == 0;
    return cores;
}

void sendElsewhere(std::thread* thread, const Cores& cores) {
    cpu_set_t others = cores.allowed;
    const int here = sched_getcpu();
    if (here >= 0 && here < CPU_SETSIZE) CPU_CLR(here, &others);
    if (cores.known && CPU_COUNT(&others) > 0)
        pthread_setaffinity_np(thread->native_handle(), sizeof others, &others);
}

// The second thread's work: pieces as they come, until none is left.
void scoreTakenPieces(const std::shared_ptr<Scoring>& scoring, Cores cores) {
    scoring->placed.wait(false);
    if (cores.known) sched_setaffinity(0, sizeof cores.allowed, &cores.allowed);
    for (int piece = scoring->next++; piece < scoring->pieces; piece = scoring->next++)
        scoreIntoSlot(scoring.get(), piece, &scoring->buffers[1], &scoring->findings[1]);
}

// The sum of every score in order, as the first thread adds up the slots; out receives the
// scores as well when given.
class Adder {
  public:
    Adder(Scoring* scoring, double* out) : scoring_(scoring), out_(out) {}

    // Adds up the pieces from the next one on: those before end, waiting for them, and as many
    // more as are ready.
    void add(int end) {
        for (; added_ < scoring_->pieces; ++added_) {
            std::atomic<int>& ready = scoring_->ready[added_ % scoring_->slotCount];
            int scored = ready.load();
            if (scored != added_ + 1 && added_ >= end) return;
            for (; scored != added_ + 1; scored = ready.load()) ready.wait(scored);
            addPiece(slotOf(*scoring_, added_));
            scoring_->added.store(added_ + 1);
            scoring_->added.notify_one();
        }
    }

    double sum() const { return sum_; }

  private:
    void addPiece(const double* scores) {
        const auto columns = static_cast<std::size_t>(scoring_->first.width / kBlockSize);
        const int bands = scoring_->first.height / kBlockSize - added_ * scoring_->pieceBands;
        const std::size_t blocks =
            static_cast<std::size_t>(std::min(scoring_->pieceBands, bands)) * columns;
        for (std::size_t block = 0; block < blocks; ++block) sum_ += scores[block];
        if (out_ != nullptr) out_ = std::copy_n(scores, blocks, out_);
    }

    Scoring* scoring_;
    double* out_;
    int added_ = 0;
    double sum_ = 0.0;
};

// The first thread's work: pieces as they come, and between them the sum of those ready.
double addPieces(Scoring* scoring, double* out) {
    Adder adder(scoring, out);
    for (int piece = scoring->next++; piece < scoring->pieces; piece = scoring->next++) {
        adder.add(piece - scoring->slotCount + 1);
        scoreIntoSlot(scoring, piece, &scoring->buffers[0], &scoring->findings[0]);
    }
    adder.add(scoring->pieces);
    return adder.sum();
}

// Starts the second thread, unless there is none to be had. Nobody waits for it to end: its
// last piece scored, all it does is release its share and end.
void startSecondThread(const std::shared_ptr<Scoring>& scoring) {
    const Cores cores = allowedCores();
    std::thread thread;
    try {
        thread = std::thread(scoreTakenPieces, scoring, cores);
    } catch (const std::exception&) {
        return;
    }
    sendElsewhere(&thread, cores);
    thread.detach();
    scoring->placed.store(true);
    scoring->placed.notify_one();
}

// The mean of the block scores, added in the order meanSSIM adds them, so that it keeps its
// bits; a large pair is scored on two threads. Marks a picture in which a pixel of colour turned
// up, or whose file ended early.
}  // namespace

double scoreLocated(SourceReader* first, SourceReader* second, double* out) {
    const int bands = first->height / kBlockSize;
    const auto columns = static_cast<std::size_t>(first->width / kBlockSize);
    const bool large = std::int64_t{first->width} * first->height >= kThreadedPixels &&
                       std::thread::hardware_concurrency() >= 2;
    const int pieceBands = bandsPerPiece(*first, *second, large ? kPieceBytes : kLonePieceBytes);
    const int pieces = (bands + pieceBands - 1) / pieceBands;
    const bool alone = !large || pieces < 2;
    const auto scoring =
        std::make_shared<Scoring>(*first, *second, pieces, pieceBands, alone ? 1 : 2);
    if (!alone) startSecondThread(scoring);
    const double sum = addPieces(scoring.get(), out);
    for (const Findings& found : scoring->findings) {
        first->colour = first->colour || found.colour[0];
        second->colour = second->colour || found.colour[1];
        // The files were whole when they were opened: they shrank while they were read.
        if (found.ended[0]) first->result = kBadPixels;
        if (found.ended[1]) second->result = kBadPixels;
    }
    return sum / static_cast<double>(static_cast<std::size_t>(bands) * columns);
}

}  // namespace likeness
