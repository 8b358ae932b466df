// The numbers and texts the host, the controllers and the operator know the driver by.
#pragma once

#include "platform/Types.h"

#include <cstdint>

namespace vemox {

// ---- Driver identity, as handed to the host by Initial ----
inline constexpr char16_t kDriverName[] = u"Вемокс";
inline constexpr char16_t kDriverDescription[] = u"Доступ к тензометрическим измерит. приборам";

// ---- Settings pairs: keys and the texts of the Boolean ----
inline constexpr char16_t kKeyWaitTimeout[] = u"WaitTimeout";
inline constexpr char16_t kKeyCountTry[] = u"CountTry";
inline constexpr char16_t kKeyTimeNextSend[] = u"TimeNextSend";
inline constexpr char16_t kKeyCalcCRC[] = u"CalcCRC";
inline constexpr char16_t kTextTrue[] = u"-1";
inline constexpr char16_t kTextFalse[] = u"0";

// Extra time the host's watchdog allows beyond every try of a request.
constexpr std::int64_t kWatchdogMarginMs = 3000;

// ---- Operator messages ----
inline constexpr char16_t kBoxOutOfMemory[] = u"Не хватает памяти";
inline constexpr char16_t kBoxServerCaption[] = u"OPC сервер";
inline constexpr char16_t kBoxBadConfig[] = u"Неверные параметры конфигурации";
inline constexpr char16_t kBoxErrorCaption[] = u"Ошибка";

// ---- Log lines (kind 1 for every line) ----
constexpr std::int32_t kLogKind = 1;
inline constexpr char16_t kLogTx[] = u" Tx: ";
inline constexpr char16_t kLogRx[] = u" Rx: ";
inline constexpr char16_t kLogWriteError[] = u": Ошибка при записи в порт";
inline constexpr char16_t kLogUnexpected[] = u"Получены не ожидаемые данные";
inline constexpr char16_t kLogAddress[] = u" Адрес ";
inline constexpr char16_t kLogSerial[] = u" Серийный номер ";
inline constexpr char16_t kLogUnreachable[] = u": устройство не доступно";

// ---- Outcome codes of a task and the OPC quality that goes with each ----
constexpr std::uint16_t kQualityBad = 0x0000;
constexpr std::uint16_t kQualityGood = 0x00C0;
constexpr std::uint16_t kQualityUncertain = 0x0040;
constexpr HRESULT kOutcomeErrorInit = static_cast<HRESULT>(0xCFFF0000u);
constexpr HRESULT kOutcomeNotAnswer = static_cast<HRESULT>(0xCFFF0001u);
constexpr HRESULT kOutcomeChecksum = static_cast<HRESULT>(0xCFFF0002u);
constexpr HRESULT kOutcomeWrongReply = static_cast<HRESULT>(0xCFFF0005u);
constexpr std::uint16_t kQualityErrorInit = 0x0118;
constexpr std::uint16_t kQualityNotAnswer = 0x0218;
constexpr std::uint16_t kQualityChecksum = 0x0318;
constexpr std::uint16_t kQualityWrongReply = 0x0618;
// The host's answer when a node or item name is already taken.
constexpr HRESULT kOpcDuplicateName = static_cast<HRESULT>(0xC004000Cu);

// ---- Property IDs: the standard OPC DA ones and the driver's own ----
constexpr std::int32_t kPropCanonicalType = 1;
constexpr std::int32_t kPropValue = 2;
constexpr std::int32_t kPropQuality = 3;
constexpr std::int32_t kPropTimeStamp = 4;
constexpr std::int32_t kPropAccessRights = 5;
constexpr std::int32_t kPropScanRate = 6;
constexpr std::int32_t kPropDescription = 101;
constexpr std::int32_t kPropComPort = 5000;
constexpr std::int32_t kPropUseAddress = 5001;
constexpr std::int32_t kPropAddress = 5002;
constexpr std::int32_t kPropSerial = 5003;
constexpr std::int32_t kPropOperation = 5004;
constexpr std::int32_t kPropCounter = 5005;
constexpr std::int32_t kPropDigitalInput = 5006;
constexpr std::int32_t kPropDigitalOutput = 5007;
constexpr std::int32_t kPropWeightPoint = 5008;
constexpr std::int32_t kPropWeightPointLevel = 5009;
constexpr std::int32_t kPropStateBit = 5010;

// ---- Description texts of the property records, as the host shows them ----
// The node description text is also what a new node's description starts as.
inline constexpr char16_t kTextNodeDescription[] = u"Описание узла";
inline constexpr char16_t kTextScanRate[] = u"Частота опроса";
inline constexpr char16_t kTextComPort[] = u"COM порт";
inline constexpr char16_t kTextUseAddress[] = u"Использовать сетевой адрес";
inline constexpr char16_t kTextAddress[] = u"Адрес устройства";
inline constexpr char16_t kTextSerial[] = u"Серийный номер";
inline constexpr char16_t kTextCanonicalType[] = u"Тип переменной";
inline constexpr char16_t kTextValue[] = u"Значение переменной";
inline constexpr char16_t kTextQuality[] = u"Качество переменной";
inline constexpr char16_t kTextTimeStamp[] = u"Метка времени";
inline constexpr char16_t kTextAccessRights[] = u"Права доступа";
inline constexpr char16_t kTextItemDescription[] = u"Описание переменной";
inline constexpr char16_t kTextOperation[] = u"Операция";
inline constexpr char16_t kTextCounter[] = u"Номер счетчика";
inline constexpr char16_t kTextDigitalInput[] = u"Номер дискретного входа";
inline constexpr char16_t kTextDigitalOutput[] = u"Номер дискретного выхода";
inline constexpr char16_t kTextWeightPoint[] = u"Номер весовой точки";
inline constexpr char16_t kTextWeightPointLevel[] = u"Нижний/верхний уровень весовой точки";
inline constexpr char16_t kTextStateBit[] = u"Номер бита состояния";

// ---- Node and item settings as the pages hold them ----
inline constexpr char16_t kPortPrefix[] = u"COM"; // port names are "COM" and the number
constexpr std::int64_t kMsPerSecond = 1000;       // pages show seconds, sets hold ms
constexpr std::int32_t kAddressMin = 1;
constexpr std::int32_t kAddressMax = 159;
constexpr std::int32_t kSerialMin = 0;
constexpr std::int32_t kSerialMax = 999999;

// ---- AddChild's kind and the fixed value that goes with it ----
constexpr std::int32_t kChildNode = 1;
constexpr std::int32_t kChildItem = 2;
constexpr std::int32_t kChildNodeFlags = 0x00010116;
constexpr std::int32_t kChildItemFlags = 0x00010102;

// ---- OPC access rights ----
constexpr std::uint32_t kAccessRead = 1;
constexpr std::uint32_t kAccessReadWrite = 3;

} // namespace vemox
