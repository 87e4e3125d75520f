#pragma once
// A wired M-Bus with a few meters on it, without a port: it takes the bytes a master writes
// (whole requests or pieces of them) and returns the bytes the bus answers. Each meter has a
// primary address, a secondary identity and one or more reply telegrams; a reply of several
// telegrams ends each but the last with DIF 0x1F and moves on when the master toggles the
// frame count bit (the same bit again repeats the last telegram). Meters answer:
//   SND_NKE                 E5, and the next REQ_UD2 starts at the first telegram
//   REQ_UD2 (0x5B / 0x7B)   a long frame, CI 0x72 (RSP_UD)
//   selection (CI 0x52)     E5 from every meter the mask matches; they are selected, the
//                           others no longer; address 253 then reaches the selected meters
//   application reset       E5
// Address 254 reaches every meter (each answers), 255 every meter (none answers). A request
// with a wrong check sum gets no answer. When several meters answer at once the bus gives
// what a real one does: the bitwise AND of the answers laid over each other (the longer
// answer's tail left as it is), and for acknowledgements one E5 per meter in a row (or, with
// mergeAcks, a single E5: the acknowledgements overlap exactly).

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <cstdint>
#include <vector>

namespace trelmo::test {

struct SimMeter {
    int primary = 0;
    QString id;  // 8 decimal digits
    uint16_t manufacturer = 0;
    uint8_t version = 0;
    uint8_t medium = 0;
    uint8_t status = 0;
    // The data records of each telegram (after the 12-byte header). All but the last should
    // end with 0x1F.
    std::vector<QByteArray> telegrams;
};

class MbusMeterBus {
  public:
    void addMeter(SimMeter meter);
    // Feeds bytes the master writes; returns what the bus answers to every request completed
    // by them (nothing for a request no meter answers).
    QByteArray write(QByteArrayView bytes);

    // Collisions of acknowledgements as one E5 instead of one per meter.
    void setMergeAcks(bool merge) { mergeAcks_ = merge; }

    int requests() const { return requests_; }
    const std::vector<QByteArray>& requestLog() const { return log_; }
    // The reply frame of telegram `index` of `meter`, as the bus sends it.
    static QByteArray replyFrame(const SimMeter& meter, std::size_t index, uint8_t access);

  private:
    struct State {
        SimMeter meter;
        bool selected = false;
        bool fresh = true;  // the next REQ_UD2 gets the first telegram
        bool lastFcb = false;
        std::size_t index = 0;
        uint8_t access = 0;
    };
    QByteArray handle(QByteArrayView frame);
    QByteArray combine(const std::vector<QByteArray>& answers) const;
    std::vector<State*> addressed(uint8_t address);

    std::vector<State> meters_;
    QByteArray pending_;
    bool mergeAcks_ = false;
    int requests_ = 0;
    std::vector<QByteArray> log_;
};

}  // namespace trelmo::test
