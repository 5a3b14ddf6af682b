#include "scale/clntsock.h"

#include <utility>

#include "scale/ICMPunit.h"

namespace tv {
namespace {

TLineLists& EmptyLists() {
  static TLineLists empty;
  return empty;
}

}  // namespace

TScaleClnt::TScaleClnt(bool NameAlgorithm, bool LongBarCode, bool TextToOEM, TScaleType ScaleType,
                       std::string BarPrefix, std::string Address, int32_t LabelWidth,
                       int32_t IngredientFont, int32_t MessageFont, int32_t BarcodeType,
                       int32_t LabelFormat, int32_t Port, char ListSeparator,
                       char DecimalSeparator, bool UseByInDays, bool ConstBarcode,
                       TScaleClntContext context)
    : nameAlgorithm(NameAlgorithm),
      longBarCode(LongBarCode),
      textToOEM(TextToOEM),
      scaleType(ScaleType),
      barPrefix(std::move(BarPrefix)),
      address(std::move(Address)),
      labelWidth(LabelWidth),
      ingredientFont(IngredientFont),
      messageFont(MessageFont),
      barcodeType(BarcodeType),
      labelFormat(LabelFormat),
      port(Port),
      listSeparator(ListSeparator != 0 ? ListSeparator : context.host.listSeparator),
      decimalSeparator(DecimalSeparator != 0 ? DecimalSeparator : context.host.decimalSeparator),
      useByInDays(UseByInDays),
      constBarcode(ConstBarcode),
      settings(context.settings ? context.settings : std::make_shared<const TEngineSettings>()),
      lists(context.lists ? context.lists : &EmptyLists()),
      host(std::move(context.host)),
      clock(context.clock ? *context.clock : platform::SystemClock()) {
  record.BarcodeDigits.reserve(16);
}

TScaleClnt::~TScaleClnt() { WaitFor(); }

int TScaleClnt::Execute() {
  if (!OpenConnection()) return resultCode;
  sentSomething = false;
  if (SendDeletions() && SendGoods() && SendClock()) {
    // A code 4 left by a record that could not be encoded ends here too.
    resultCode = sentSomething ? kResultDelivered : kResultNothingToSend;
  }
  CloseConnection();
  return resultCode;
}

bool TScaleClnt::OpenConnection() {
  {
    TPINGProcess probe(address);
    probe.Start();
    if (probe.WaitFor() == 0) {
      resultCode = kResultUnreachable;
      return false;
    }
  }
  if (!socket.Create()) {
    resultCode = kResultNetworkError;
    return false;
  }
  if (!socket.SetSendTimeout(kNetworkTimeoutMs) || !socket.SetRecvTimeout(kNetworkTimeoutMs)) {
    socket.Close();
    resultCode = kResultNetworkError;
    return false;
  }
  if (!socket.Connect(address, static_cast<uint16_t>(port))) {
    socket.Close();
    resultCode = kResultUnreachable;
    return false;
  }
  connected = true;
  return true;
}

bool TScaleClnt::CloseConnection() {
  if (connected) socket.Shutdown();  // the close follows whatever it reports
  socket.Close();
  connected = false;
  return true;
}

bool TScaleClnt::Exchange(size_t frameLength, bool altAckAccepted) {
  uint8_t answer = 0;
  if (!socket.SendAll(sendBuffer.data(), frameLength) || !socket.RecvByte(answer)) {
    resultCode = kResultNetworkError;
    return false;
  }
  if (answer == kAck || (altAckAccepted && answer == kAltAck)) return true;
  resultCode = kResultRejected;
  return false;
}

bool TScaleClnt::SendDeletions() {
  for (const std::string& entry : lists->dLines) {
    std::optional<int32_t> goodsNumber = ParseDeletionEntry(entry);
    if (!goodsNumber) continue;
    size_t length = FrameDeletion(*goodsNumber);
    sentSomething = true;
    if (!Exchange(length, true)) return false;
  }
  return true;
}

bool TScaleClnt::SendGoods() {
  for (const std::string& entry : lists->aLines) {
    if (!PrepareGoodsRecord(entry)) continue;
    sentSomething = true;
    size_t length = FrameGoodsRecord();
    if (length == 0) continue;
    if (!Exchange(length, false)) return false;
  }
  return true;
}

bool TScaleClnt::SendClock() {
  if (lists->tLines.empty()) return true;
  TClockSetting when;
  if (!ParseClockLine(lists->tLines.front(), when)) return false;
  size_t length = FrameClock(when);
  if (length == 0) return false;
  sentSomething = true;
  return Exchange(length, true);
}

size_t TScaleClnt::FrameDeletion(int32_t goodsNumber) {
  // A number of more than eight digits contributes its first eight.
  int64_t n = goodsNumber < 0 ? 0 : goodsNumber;
  while (n > 99999999) n /= 10;
  TRecordWriter out(sendBuffer.data(), sendBuffer.size());
  out.Byte(0xF3);
  out.Byte(0x25);
  out.Bcd(n, 8);
  return out.Ok() ? out.Size() : 0;
}

size_t TScaleClnt::FrameClock(const TClockSetting& when) {
  TRecordWriter out(sendBuffer.data(), sendBuffer.size());
  for (uint8_t b : {0xF1, 0x4E, 0x00, 0x00, 0x00, 0xFF, 0x00}) out.Byte(b);
  out.Bcd(when.day, 2);
  out.Bcd(when.month, 2);
  out.Bcd(when.year, 2);
  out.Byte(0x00);
  out.Byte(0x00);
  out.Bcd(when.hour, 2);
  out.Bcd(when.minute, 2);
  return out.Ok() ? out.Size() : 0;
}

}  // namespace tv
