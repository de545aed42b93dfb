// The tables of the window's numeric fields, drop-down lists and field bindings.
#include <algorithm>

#include "core/present/present.h"
#include "model/layout.h"

namespace vir05 {

namespace {

using K = SpinKind;

constexpr SpinSpec kSpins[] = {
    {"Korr", K::Whole, 0, -99, 200},
    {"SerialN", K::Whole, 0, 500001, 599999},
    {"skip_firstAD", K::Whole, 0, 0, 255},
    {"K1_P", K::Decimal, 4, -65000, 65000},
    {"K1_I", K::Decimal, 2, -65000, 65000},
    {"K1_D", K::Decimal, 2, -65000, 65000},
    {"K2_P", K::Decimal, 4, 0, 65000},
    {"K2_I", K::Decimal, 2, 0, 65000},
    {"K2_D", K::Decimal, 2, 0, 65000},
    {"ThresholdT", K::Decimal, 2, 0, 10},
    {"MinKlapCtrl", K::Decimal, 2, 0, 10},
    {"LuftKlap", K::Decimal, 2, 0, 2.55},
    {"T_Klap", K::Whole, 0, 0, 600},
    {"TConst", K::Whole, 0, -99, 150},
    {"TConst2", K::Whole, 0, -128, 127},
    {"LimitTOConst", K::Decimal, 2, -99, 199},
    {"Param1AvarValue", K::Decimal, 2, 0, 255},
    {"Param2AvarValue", K::Decimal, 2, 0, 255},
    {"Tfrost", K::Decimal, 0, 0, 255},
    {"Tv", K::Whole, 0, 0, 255},
    {"T3r", K::Whole, 0, 0, 255},
    {"T2r", K::Whole, 0, 0, 255},
    {"T1r", K::Whole, 0, 0, 255},
    {"Tnr", K::Whole, 0, -128, 127},
    {"ParamPomp1ValueOn", K::Decimal, 2, -99, 199},
    {"ParamPomp1ValueOff", K::Decimal, 2, -99, 199},
    {"ParamPomp3ValueOn", K::Decimal, 2, -99, 199},
    {"ParamPomp3ValueOff", K::Decimal, 2, -99.99, 199.99},
    {"TimeOnMinPomp", K::Decimal, 0, 0, 60000},
    {"TimeOffMinPomp", K::Decimal, 0, 0, 60000},
    {"TimeAntiMud", K::Decimal, 0, 0, 60000},
    {"LenAntiMud", K::Decimal, 0, 0, 60000},
    {"P1P2Norm", K::Decimal, 0, 0, 255},
    {"TimeRC", K::Whole, 0, 0, 60000},
    {"TimeErrOff1", K::Whole, 0, 0, 60000},
    {"TimeErr", K::Whole, 0, 0, 255},
    {"TimeOut_SECUR", K::Whole, 0, 0, 255},
};

constexpr std::string_view kkod_schemeItems[] = {
    "Выключен",
    "1.1 СО, зависимая схема,  элеватор, насос(ы) на перемычке",
    "1.2 СО, зависимая схема,  повышающие циркуляционные насосы",
    "1.3 СО, независимая схема, подпитка",
    "2.1 Циркуляционная система ГВС",
    "2.2 Тупиковая ГВС",
    "3.1 Вентеляция, калорифер",
    "3.2 Вентеляция, заслонка",
};
constexpr std::string_view kParamBaseItems[] = {
    "Темп-ра в системе отопления расчетная+константа",
    "Темп-ра обратки расчетная+константа",
    "Темп-ра подачи расчетная+константа",
    "Темп-ра (подачи+обратки)/2 расчетная +константа",
    "Константа",
    "График+константа",
};
constexpr std::string_view kGraphTypeK1Items[] = {
    "нет",
    "недельный",
};
constexpr std::string_view kLimitTOCfgItems[] = {
    "Выключено",
    "Tемператера расчетная обратки + константа",
    "Константа",
};
constexpr std::string_view kPeriodStatItems[] = {
    "без архива", "10 сек", "30 сек", "1 мин", "5 мин", "30 мин", "1 час", "2 час", "4 час",
};
constexpr std::string_view kusers_buf0Items[] = {
    "Выключено",
    "SMS по размыканию контактов 7-8 ",
    "Звонок по размыканию контактов 7-8 ",
    "SMS по любой ошибке ",
    "Звонок по любой ошибке ",
};
constexpr std::string_view kTemperatureK0Items[] = {
    "1.391 500 Oм",
    "1.385 500 Oм",
    "1.391 100 Oм",
    "1.385 100 Oм",
};
constexpr std::string_view kCB_BaudItems[] = {
    "300", "1200", "9600", "38400", "115200",
};
constexpr std::string_view kCB_SysCountItems[] = {
    "1",
    "2",
};
constexpr std::string_view kAccTimeItems[] = {
    "1", "2", "3", "4", "5", "6", "8", "10",
};
constexpr std::string_view kCB_AddrItems[] = {"1", "2", "3", "4", "5", "6", "7", "8", "9", "10"};
constexpr std::string_view kPinCodeItems[] = {"4629"};

using L = ListKind;

constexpr ListSpec kLists[] = {
    {"kod_scheme", L::Fixed, false, kkod_schemeItems},
    {"ParamBase", L::Fixed, false, kParamBaseItems},
    {"GraphTypeK1", L::Fixed, false, kGraphTypeK1Items},
    {"LimitTOCfg", L::Fixed, false, kLimitTOCfgItems},
    {"PeriodStat", L::Fixed, false, kPeriodStatItems},
    {"users_buf0", L::Fixed, false, kusers_buf0Items},
    {"TemperatureK0", L::Fixed, false, kTemperatureK0Items},
    {"CB_Baud", L::Fixed, true, kCB_BaudItems},
    {"CB_Addr", L::Fixed, true, kCB_AddrItems},
    {"CB_SysCount", L::Fixed, true, kCB_SysCountItems},
    {"AccTime", L::Fixed, true, kAccTimeItems},
    {"PinCode", L::Fixed, true, kPinCodeItems},
    {"ParamReg", L::Sources, false, {}},
    {"ParamReg2", L::Sources, false, {}},
    {"Param1AvarCfg", L::Sources, false, {}},
    {"Param2AvarCfg", L::Sources, false, {}},
    {"ParmPomp1", L::SourcesNoneless, false, {}},
    {"ParmPomp3", L::SourcesNoneless, false, {}},
};

// Manual control: the valve's and each pump's radio buttons with their codes. The button whose
// code is 0 (automatic) is the one chosen when the other two are not.
constexpr RadioCode kKlapRadios[] = {
    {"KlapOpen", 6000, "открыть"}, {"KlapClose", -6000, "закрыть"}, {"KlapFree", 0, "авто"}};
constexpr RadioCode kPomp1Radios[] = {
    {"Pomp1On", 1, "включен"}, {"Pomp1Off", -1, "выключен"}, {"Pomp1Auto", 0, "авто"}};
constexpr RadioCode kPomp2Radios[] = {
    {"Pomp2On", 1, "включен"}, {"Pomp2Off", -1, "выключен"}, {"Pomp2Auto", 0, "авто"}};
constexpr RadioCode kPomp3Radios[] = {
    {"Pomp3On", 1, "включен"}, {"Pomp3Off", -1, "выключен"}, {"Pomp3Auto", 0, "авто"}};
constexpr RadioCode kPomp4Radios[] = {
    {"Pomp4On", 1, "включен"}, {"Pomp4Off", -1, "выключен"}, {"Pomp4Auto", 0, "авто"}};

using T = FieldType;
using C = Conversion;
constexpr bool G = false;  // an address in the image
constexpr bool R = true;   // an offset in the shown circuit's record

// Byte fields whose edit range is 0..255 (skip_firstAD, P1P2Norm, Tfrost) are read as unsigned
// bytes, so that every stored byte survives a presentation and a collect unchanged.
constexpr FieldBinding kBindings[] = {
    // Global area, written into the image at once.
    {"AD_out0", "AD_out0", G, addr::AD_out + 0, T::U8, C::IntText, 1, 255},
    {"AD_out1", "AD_out1", G, addr::AD_out + 1, T::U8, C::IntText, 1, 255},
    {"AD_out2", "AD_out2", G, addr::AD_out + 2, T::U8, C::IntText, 1, 255},
    {"AD_out3", "AD_out3", G, addr::AD_out + 3, T::U8, C::IntText, 1, 255},
    {"SerialN", "Серийный номер", G, addr::DevNumber, T::I32, C::Spin},
    {"CB_Addr", "Сетевой адрес", G, addr::NetAddress, T::U8, C::IntText},
    {"CB_Baud", "Скорость обмена", G, addr::BaudIndex, T::U8, C::List},
    {"CB_SysCount", "Число контуров", G, addr::NumSystems, T::U8, C::IntText},
    {"PeriodStat", "Период архива", G, addr::PeriodStat, T::U8, C::List},
    {"TimeOut_SECUR", "Интервал между GSM-сообщениями, с", G, addr::TimeOut_SECUR, T::U16, C::Spin},
    // The archive period is kept in the shown circuit's record too; the window shows the copy
    // at 310.
    {"PeriodStat", "Период архива", R, rec::PeriodStat, T::U8, C::List, 1, 0, false},
    {"PinCode", "PIN-код", G, addr::PinCodeBcd, T::U16, C::PinBcd},
    {"AccTime", "Время усреднения, с", G, addr::AccTime, T::I8, C::IntText},
    {"P1P2Norm", "Нормальное состояние реле давления", G, addr::P1P2Norm, T::U8, C::Spin},
    {"skip_firstAD", "Пропуск отсчётов АЦП", G, addr::SkipFirstAD, T::U8, C::Spin},
    {"users_buf0", "Режим GSM-сигнализации", G, addr::GsmMode, T::U8, C::List},
    {"Num_Secur", "Телефон GSM", G, addr::GsmPhone, T::U8, C::GsmPhone},
    {"Message_Secur", "Текст GSM-сообщения", G, addr::GsmMessage, T::U8, C::GsmMessage},
    {"TemperatureK0", "Тип датчиков температуры", G, addr::SensorType, T::U8, C::SensorType},

    // The shown circuit's record, collected into a working record.
    {"Tfrost", "Защита от замерзания, °C", R, rec::Tfrost, T::U8, C::Spin},
    {"kod_scheme", "Схема", R, rec::Scheme, T::U8, C::List},
    {"ParamReg", "Регулируемый параметр", R, rec::ParamReg, T::I8, C::SourceList},
    {"ParamBase", "Задание", R, rec::ParamBase, T::U8, C::List},
    {"ParamReg2", "Второй регулируемый параметр", R, rec::ParamReg2, T::I8, C::SourceList},
    {"LimitTOCfg", "Ограничение температуры обратки", R, rec::LimitTOCfg, T::U8, C::List},
    {"GraphTypeK1", "График отклонения от задания", R, rec::GraphTypeK1, T::U8, C::List},
    {"Param1AvarCfg", "Параметр аварийного открывания", R, rec::Param1AvarCfg, T::I8,
     C::SourceList},
    {"Param2AvarCfg", "Параметр аварийного закрывания", R, rec::Param2AvarCfg, T::I8,
     C::SourceList},
    {"Param1AvarValue", "Порог аварийного открывания", R, rec::Param1AvarValue, T::I16, C::Spin,
     100},
    {"Param2AvarValue", "Порог аварийного закрывания", R, rec::Param2AvarValue, T::I16, C::Spin,
     100},
    {"K1_P", "Kp основного контура", R, rec::K1_P, T::F32, C::Float},
    {"K1_I", "Ki основного контура", R, rec::K1_I, T::F32, C::Float},
    {"K1_D", "Kd основного контура", R, rec::K1_D, T::F32, C::Float},
    {"K2_P", "Kp дополнительного контура", R, rec::K2_P, T::F32, C::Float},
    {"K2_I", "Ki дополнительного контура", R, rec::K2_I, T::F32, C::Float},
    {"K2_D", "Kd дополнительного контура", R, rec::K2_D, T::F32, C::Float},
    {"ThresholdT", "Зона нечувствительности, °C", R, rec::ThresholdT, T::U16, C::Spin, 100},
    {"TConst", "Константа задания, °C", R, rec::TConst, T::I16, C::Spin, 100},
    {"TConst2", "Константа второго задания, °C", R, rec::TConst2, T::I16, C::Spin, 100},
    {"LimitTOConst", "Константа ограничения обратки, °C", R, rec::LimitTOConst, T::I16, C::Spin,
     100},
    {"ParmPomp1", "Параметр насосов 1, 2", R, rec::ParmPomp1, T::U8, C::List},
    {"ParamPomp1ValueOn", "Включение насосов 1, 2", R, rec::ParamPomp1ValueOn, T::I16, C::Spin,
     100},
    {"ParamPomp1ValueOff", "Выключение насосов 1, 2", R, rec::ParamPomp1ValueOff, T::I16, C::Spin,
     100},
    {"ParmPomp3", "Параметр насоса 3", R, rec::ParmPomp3, T::U8, C::List},
    {"ParamPomp3ValueOn", "Включение насоса 3", R, rec::ParamPomp3ValueOn, T::I16, C::Spin, 100},
    {"ParamPomp3ValueOff", "Выключение насоса 3", R, rec::ParamPomp3ValueOff, T::I16, C::Spin, 100},
    {"AutoResrv", "Резерв", R, rec::AutoResrv, T::U8, C::Check},
    {"Klap_lim", "Отключение привода клапана в крайних положениях", R, rec::Klap_lim, T::U8,
     C::Check},
    {"RCmode", "Ресурс", R, rec::RCmode, T::U8, C::Check},
    {"TimeRC", "Период ресурса, мин", R, rec::TimeRC, T::U32, C::Spin, 60},
    {"TimeErrOff1", "Ожидание насоса в ошибке, с", R, rec::TimeErrOff1, T::U16, C::Spin},
    {"TimeErr", "Попытка перезапуска насоса, с", R, rec::TimeErr, T::U16, C::Spin},
    {"AntiMud", "Антизаиливание", R, rec::AntiMud, T::U8, C::Check},
    {"TimeAntiMud", "Период антизаиливания, сут", R, rec::TimeAntiMud, T::U32, C::Spin, 86400},
    {"LenAntiMud", "Длительность прокрутки, с", R, rec::LenAntiMud, T::U8, C::Spin},
    // The pump timing is global; it sits on the pumps page and goes straight into the image.
    {"TimeOnMinPomp", "Минимальное время работы насоса, с", G, addr::TimeOnMinPomp, T::U16,
     C::Spin},
    {"TimeOffMinPomp", "Минимальное время простоя насоса, с", G, addr::TimeOffMinPomp, T::U16,
     C::Spin},
    {"AutoCtrlOff", "Автоматика отключена", R, rec::AutoCtrlOff, T::U8, C::Check},
    {"KlapManual", "Клапан, ручное управление", R, rec::KlapManual, T::I16, C::Radio, 1, 0, true,
     kKlapRadios},
    {"Pomp1Manual", "Насос 1, ручное управление", R, rec::Pomp1Manual, T::I8, C::Radio, 1, 0, true,
     kPomp1Radios},
    {"Pomp2Manual", "Насос 2, ручное управление", R, rec::Pomp2Manual, T::I8, C::Radio, 1, 0, true,
     kPomp2Radios},
    {"Pomp3Manual", "Насос 3, ручное управление", R, rec::Pomp3Manual, T::I8, C::Radio, 1, 0, true,
     kPomp3Radios},
    {"Pomp4Manual", "Насос 4, ручное управление", R, rec::Pomp4Manual, T::I8, C::Radio, 1, 0, true,
     kPomp4Radios},
    {"MinKlapCtrl", "Минимальный импульс, с", R, rec::MinKlapCtrl, T::I16, C::Spin, 100},
    {"LuftKlap", "Дополнительный импульс, с", R, rec::LuftKlap, T::U8, C::Spin, 100},
    {"T_Klap", "Время хода клапана, с", R, rec::T_Klap, T::I16, C::Spin},
    {"Tv", "Расчётная температура воздуха, °C", R, rec::Tv, T::U8, C::Spin},
    {"T3r", "Расчётная температура системы отопления, °C", R, rec::T3r, T::U8, C::Spin},
    {"T2r", "Расчётная температура обратки, °C", R, rec::T2r, T::U8, C::Spin},
    {"T1r", "Расчётная температура подачи, °C", R, rec::T1r, T::U8, C::Spin},
    {"Tnr", "Расчётная наружная температура, °C", R, rec::Tnr, T::I8, C::Spin},
};

}  // namespace

const std::span<const SpinSpec> kSpinSpecs = kSpins;
const std::span<const ListSpec> kListSpecs = kLists;
const std::span<const FieldBinding> kFieldBindings = kBindings;

const SpinSpec* FindSpinSpec(std::string_view name) {
    for (const SpinSpec& s : kSpins)
        if (s.name == name) return &s;
    return nullptr;
}

const ListSpec* FindListSpec(std::string_view name) {
    for (const ListSpec& s : kLists)
        if (s.name == name) return &s;
    return nullptr;
}

int FieldWidth(FieldType type) {
    switch (type) {
        case FieldType::U8:
        case FieldType::I8:
            return 1;
        case FieldType::U16:
        case FieldType::I16:
            return 2;
        case FieldType::U32:
        case FieldType::I32:
        case FieldType::F32:
            return 4;
    }
    return 1;
}

}  // namespace vir05
