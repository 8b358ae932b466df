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
constexpr std::int32_t kPropLinkFigure = 5011;

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
inline constexpr char16_t kTextLinkFigure[] = u"Показатель связи";

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

// ---- Window messages between the host and the pages (both parameters always 0) ----
constexpr std::uint32_t kWmUser = 0x0400;
constexpr std::uint32_t WM_SETTINGS_CHANGED = kWmUser + 300;
constexpr std::uint32_t WM_SETTINGS_SAVE = kWmUser + 301;
constexpr std::uint32_t WM_SETTINGS_RELOAD = kWmUser + 303;
constexpr std::uint32_t WM_PAGE_DETACH = kWmUser + 304;
constexpr std::uint32_t WM_NODE_CHANGED_EMPTY_NAME = kWmUser + 310;
constexpr std::uint32_t WM_NODE_CHANGED = kWmUser + 311;
constexpr std::uint32_t WM_NODE_ADD = kWmUser + 312;
constexpr std::uint32_t WM_NODE_SAVED = kWmUser + 313;
constexpr std::uint32_t WM_ITEM_CHANGED_EMPTY_NAME = kWmUser + 320;
constexpr std::uint32_t WM_ITEM_CHANGED = kWmUser + 321;
constexpr std::uint32_t WM_ITEM_ADD = kWmUser + 322;
constexpr std::uint32_t WM_ITEM_SAVED = kWmUser + 323;
constexpr std::uint32_t WM_NODE_UPDATE = kWmUser + 330;
constexpr std::uint32_t WM_NODE_RELOAD = kWmUser + 331;
constexpr std::uint32_t WM_ITEM_UPDATE = kWmUser + 340;
constexpr std::uint32_t WM_ITEM_RELOAD = kWmUser + 341;

// ChangeChildItem's flag that selects the node page; every other value selects the item page.
constexpr std::uint32_t kChangeChildNode = 1;

// ---- Settings page ----
constexpr int kConfigPageWidth = 280;
constexpr int kConfigPageHeight = 171;
inline constexpr char16_t kLabelWaitTimeout[] = u"Время ожидания ответа, Сек";
inline constexpr char16_t kLabelCountTry[] = u"Кол-во попыток связи";
inline constexpr char16_t kLabelTimeNextSend[] = u"Время возобновления опроса, Сек";
inline constexpr char16_t kLabelCalcCRC[] = u"Подсчет контрольной суммы";

// ---- Node page ----
constexpr int kNodePageWidth = 283;
constexpr int kNodePageHeight = 201;
inline constexpr char16_t kLabelNodeName[] = u"Имя узла:";
inline constexpr char16_t kLabelDescription[] = u"Описание:";
inline constexpr char16_t kLabelScanRate[] = u"Частота опроса:";
inline constexpr char16_t kLabelSeconds[] = u"сек";
// Written with the Cyrillic letters С, О, М, as the operator has always seen it.
inline constexpr char16_t kLabelComPort[] = u"СОМ порт:";
inline constexpr char16_t kLabelUseAddress[] = u"Использовать адрес";
inline constexpr char16_t kLabelUseSerial[] = u"Использовать серийный номер";
inline constexpr char16_t kHintNodeName[] = u"Имя узла";
inline constexpr char16_t kHintNodeDescription[] = u"Текстовое описание узла";
inline constexpr char16_t kHintScanRate[] = u"Частота опроса переменных узла OPC сервером";
inline constexpr char16_t kInitialNodeName[] = u"Node";
inline constexpr char16_t kPortLowest[] = u"COM1";
inline constexpr char16_t kPortHighest[] = u"COM99";
inline constexpr char16_t kBoxSelectPort[] = u"Выберите COM порт";
inline constexpr char16_t kBoxAddNodeCaption[] = u"Добавить узел";
inline constexpr char16_t kBoxNodeExists[] =
    u"Узел с таким именем уже существует\r\nВведите другое имя узла";
inline constexpr char16_t kBoxBadNodeNameCaption[] = u"Не верное имя узла";
inline constexpr char16_t kBoxNodeAddFailed[] = u"Ошибка при добавлении узла";

// ---- Item page ----
constexpr int kItemPageWidth = 326;
constexpr int kItemPageHeight = 187;
inline constexpr char16_t kLabelItemName[] = u"Имя переменной:";
inline constexpr char16_t kLabelOperation[] = u"Операция:";
inline constexpr char16_t kLabelCounter[] = u"Номер счетчика:";
inline constexpr char16_t kLabelInput[] = u"Номер входа:";
inline constexpr char16_t kLabelOutput[] = u"Номер выхода:";
inline constexpr char16_t kLabelWeightPoint[] = u"Номер точки:";
inline constexpr char16_t kLabelStateBit[] = u"Номер бита:";
inline constexpr char16_t kLabelLinkFigure[] = u"Показатель:";
inline constexpr char16_t kLevelLower[] = u"Нижний уровень";
inline constexpr char16_t kLevelUpper[] = u"Верхний уровень";
inline constexpr char16_t kHintItemName[] = u"Имя переменной";
inline constexpr char16_t kHintItemDescription[] = u"Текстовое описание переменной";
inline constexpr char16_t kInitialItemName[] = u"Item";
inline constexpr char16_t kBoxSelectOperation[] = u"Выберите операцию";
inline constexpr char16_t kBoxItemExists[] =
    u"Переменная с таким именем уже существует\r\nВведите другое имя переменной";
inline constexpr char16_t kBoxBadItemNameCaption[] = u"Не верное имя переменной";
inline constexpr char16_t kBoxItemAddFailed[] = u"Ошибка при добавлении переменной";

} // namespace vemox
