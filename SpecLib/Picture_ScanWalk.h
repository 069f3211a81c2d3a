#pragma once
// A picture's bytes followed piece by piece, strictly: the markers before the
// scan by their lengths, inside the scan every 0xFF stuffed or a restart
// marker in its order at a spacing like the ones before, and the
// end-of-image marker at the file's length after as many restart intervals
// as the frame holds. The walk's state is a value: a trail tries a cluster on
// a copy and keeps the copy when the cluster fits.
#include <cstddef>
#include <cstdint>

namespace Kalvory {

enum class ScanStep {
    Continues, // nothing in the piece contradicts the picture
    Confirmed, // as Continues, and a restart marker in its order stands in the piece
    Ends,      // the end-of-image marker closes the piece at the file's length
    Refuted,   // the piece cannot be this picture's
};

// Whether restart intervals far wider than the widest before refute: they
// tell a foreign cluster without markers, where a picture's detail can vary.
enum class Spacing { Checked, Free };

class JpegScanWalk {
public:
    JpegScanWalk(uint64_t length, Spacing spacing) : length_(length), spacing_(spacing) {}

    // The file's next `count` bytes.
    ScanStep Feed(const uint8_t* bytes, size_t count);
    // The frame sets a restart interval: its markers can confirm pieces.
    bool HasRestarts() const { return restartInterval_ != 0; }
    // The walk has reached the entropy-coded data.
    bool InScan() const { return scans_ > 0; }
    // Every restart interval of the picture is known: one scan of a sequential
    // frame, with restarts. Its refutation is then certain.
    bool Strict() const { return restartInterval_ != 0 && frameUnits_ != 0; }
    // The offset of the next byte: after a refutation, about where it came.
    uint64_t Position() const { return position_; }

private:
    enum class Phase { MarkerStart, MarkerCode, LengthHigh, LengthLow, Segment, Entropy, EntropyFF, Ended };

    bool Step(uint8_t byte, bool& confirmed);
    bool MarkerCode(uint8_t code);
    bool SegmentEnd();
    bool Restart(uint8_t code);
    bool EndOfImage();
    uint64_t SpacingLimit() const;

    uint64_t length_;
    Spacing spacing_;
    uint64_t position_ = 0; // file offset of the next byte
    Phase phase_ = Phase::MarkerStart;
    bool sawImageStart_ = false;
    uint8_t code_ = 0;
    uint32_t segmentLeft_ = 0;
    uint8_t head_[32] = {}; // the first bytes of the segment
    uint32_t headBytes_ = 0;

    uint32_t restartInterval_ = 0;
    uint64_t frameUnits_ = 0; // MCUs of a one-scan sequential frame; 0 when not known
    uint32_t frameComponents_ = 0;
    uint32_t scans_ = 0;
    uint8_t nextRestart_ = 0;
    uint64_t restarts_ = 0;
    uint64_t intervalStart_ = 0; // where the current restart interval's data began
    uint64_t widestInterval_ = 0;
};

// Whether a cluster's bytes look like some picture's: its start, or coded
// data (every 0xFF stuffed or a restart marker in the order of the ones
// before it in the cluster, two at least, or one and then the end-of-image
// marker).
bool LooksLikePictureData(const uint8_t* bytes, size_t count);

} // namespace Kalvory
