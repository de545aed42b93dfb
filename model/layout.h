// Memory map of the ВИР-05 controller: every field the tool interprets, by controller address.
//
// A controller address is a byte offset into DeviceImage; an archive offset is a byte offset into
// ArchiveImage. Circuit fields are given as offsets inside the 215-byte circuit record, which sits
// at 105 + 215 * c for circuit c. There is deliberately no accessor layer: callers read and write
// the fields at these addresses with the helpers of bytes.h.
#pragma once

#include <cstddef>

namespace vir05 {

inline constexpr std::size_t kImageSize = 1955;      // controller addresses 0 to 1954
inline constexpr std::size_t kArchiveSize = 131072;  // archive memory, 128 KiB
inline constexpr std::size_t kReceiveAreaSize = 262144;
inline constexpr std::size_t kCircuitRecordSize = 215;
inline constexpr int kCircuitCount = 2;

// Global area.
namespace addr {
inline constexpr int ClockSec = 0;   // BCD
inline constexpr int ClockMin = 1;   // BCD
inline constexpr int ClockHour = 2;  // BCD
inline constexpr int ClockWeekday =
    3;  // 1 = Monday .. 7 = Sunday as shown; clock write stores 0 for Sunday
inline constexpr int ClockDay = 4;         // BCD
inline constexpr int ClockMonth = 5;       // BCD
inline constexpr int ClockYear = 6;        // BCD, year within 2000..2099
inline constexpr int ClockPad = 7;         // sent with the clock write
inline constexpr int OperatingTime = 14;   // int32, seconds
inline constexpr int ArchPos = 20;         // uint32, archive write position
inline constexpr int SecondPos = 24;       // uint32, not interpreted
inline constexpr int SoftVer = 74;         // uint16, version x 100
inline constexpr int DevNumber = 76;       // int32, serial number
inline constexpr int PinCodeBcd = 80;      // uint16, four BCD digits
inline constexpr int NetAddress = 83;      // uint8
inline constexpr int BaudIndex = 84;       // uint8
inline constexpr int TimeOnMinPomp = 85;   // uint16, seconds
inline constexpr int TimeOffMinPomp = 87;  // uint16, seconds
inline constexpr int NumSystems = 89;      // uint8, 1 or 2
inline constexpr int TimeOut_SECUR = 90;   // uint16, seconds
inline constexpr int ServiceCommand = 96;  // uint8
inline constexpr int RST_Tdls = 97;        // int8
inline constexpr int Out_Tdls = 98;        // int8
inline constexpr int PeriodStat = 310;     // uint8, the copy in circuit 0 (R+205) is the one shown

inline constexpr int CircuitRecords = 105;
inline constexpr int Schedules = 535;  // 6 graphs x 128 bytes, to 1302

// GSM signalling.
inline constexpr int GsmMode = 1303;
inline constexpr int GsmPhone = 1306;  // 16 bytes
inline constexpr int GsmPhoneSize = 16;
inline constexpr int GsmMessage = 1324;     // up to 106 characters, then 0x00 and 0x1A
inline constexpr int GsmMessageEnd = 1430;  // last address the message area may use
inline constexpr int GsmMessageMaxChars = 106;

// Sensor calibration and input configuration.
inline constexpr int addR0 = 1431;        // int32[8]
inline constexpr int Ktsp = 1463;         // float32[8]
inline constexpr int SensorType = 1495;   // uint8[8]
inline constexpr int P1P2Norm = 1503;     // int8
inline constexpr int SkipFirstAD = 1504;  // int8
inline constexpr int AccTime = 1505;      // int8

// Analogue-input service data.
inline constexpr int Adc = 1507;            // uint32[8]
inline constexpr int t_cnt = 1587;          // uint8[8]
inline constexpr int Rtsp = 1595;           // float32[8]
inline constexpr int Ttsp = 1627;           // float32[8]
inline constexpr int t_err = 1695;          // int16
inline constexpr int t_cfg = 1697;          // int8
inline constexpr int EmulationFlag = 1699;  // uint8
inline constexpr int Ad_diviation = 1700;   // uint32[8]
inline constexpr int AD_in = 1796;          // uint8[4]
inline constexpr int AD_out = 1800;         // uint8[4]
inline constexpr int AD_line = 1804;        // uint8
inline constexpr int AD_line2 = 1805;       // uint8
inline constexpr int ChannelCount = 8;

// Regulator tuning counters, one entry per circuit.
inline constexpr int CntOffKp = 1807;   // int16[2]
inline constexpr int DivideKp = 1811;   // uint8[2]
inline constexpr int CntOffTi = 1813;   // int16[2]
inline constexpr int DivideTi = 1817;   // uint8[2]
inline constexpr int cnt_bigKp = 1819;  // int8[2]
inline constexpr int cnt_bigTi = 1821;  // int8[2]

// Configuration area sent by the configuration write.
inline constexpr int ConfigStart = 76;
inline constexpr int ConfigLength = 1879;  // addresses 76 to 1954
}  // namespace addr

// Offsets inside a circuit record (R+n).
namespace rec {
// Current values and counters.
inline constexpr int T11 = 0;
inline constexpr int T2 = 2;
inline constexpr int Tk = 4;
inline constexpr int Tn = 6;
inline constexpr int T21 = 8;
inline constexpr int dTcrk = 10;
inline constexpr int G1 = 12;
inline constexpr int Inputs = 14;
inline constexpr int CalcTo = 17;
inline constexpr int CalcTp = 19;
inline constexpr int Errors = 21;
inline constexpr int Real = 23;
inline constexpr int Base = 25;
inline constexpr int RegBase = 31;
inline constexpr int TnHour = 33;
inline constexpr int TnDay = 35;
inline constexpr int Real2 = 37;
inline constexpr int Base2 = 39;
inline constexpr int RegAccum = 41;
inline constexpr int RegStep = 45;
inline constexpr int KlapManual = 46;
inline constexpr int PompErr = 48;
inline constexpr int LenMudCnt = 49;
inline constexpr int AntiMudCnt = 50;
inline constexpr int WorkCnt1 = 52;
inline constexpr int ErrCnt1 = 54;
inline constexpr int ErrOffCnt1 = 56;
inline constexpr int AntiMudPomps = 65;
inline constexpr int KlT = 66;
inline constexpr int BaseValueAutoKp = 68;
inline constexpr int MaxErrAutoKp = 70;
inline constexpr int TimeMinAngle = 72;
inline constexpr int MaxAngle = 74;
inline constexpr int DeltaMaxAngle = 78;
inline constexpr int TimeMaxAngle = 80;

// Configuration.
inline constexpr int Scheme = 82;
inline constexpr int AutoCtrlOff = 83;
inline constexpr int Tv = 84;
inline constexpr int T3r = 85;
inline constexpr int T2r = 86;
inline constexpr int T1r = 87;
inline constexpr int Tnr = 88;
inline constexpr int K1_P = 89;
inline constexpr int K1_I = 93;
inline constexpr int K1_D = 97;
inline constexpr int K2_P = 101;
inline constexpr int K2_I = 105;
inline constexpr int K2_D = 109;
inline constexpr int ThresholdT = 113;
inline constexpr int T_Klap = 115;
inline constexpr int Klap_lim = 117;
inline constexpr int MinKlapCtrl = 120;
inline constexpr int LuftKlap = 122;
inline constexpr int ParamReg = 123;
inline constexpr int ParamBase = 124;
inline constexpr int GraphTypeK1 = 125;
inline constexpr int TConst = 126;
inline constexpr int ParamReg2 = 132;
inline constexpr int TConst2 = 133;
inline constexpr int Pomp1Manual = 135;
inline constexpr int Pomp2Manual = 136;
inline constexpr int Pomp3Manual = 137;
inline constexpr int Pomp4Manual = 138;
inline constexpr int LimitTOCfg = 139;
inline constexpr int LimitTOConst = 140;
inline constexpr int Param1AvarCfg = 142;
inline constexpr int Param1AvarValue = 143;
inline constexpr int Param2AvarCfg = 145;
inline constexpr int Param2AvarValue = 146;
inline constexpr int AntiMud = 149;
inline constexpr int AutoResrv = 150;
inline constexpr int RCmode = 151;
inline constexpr int ParmPomp1 = 152;
inline constexpr int ParmPomp3 = 153;
inline constexpr int TimeAntiMud = 156;
inline constexpr int LenAntiMud = 160;
inline constexpr int TimeRC = 161;
inline constexpr int TimeErr = 165;
inline constexpr int TimeErrOff1 = 167;
inline constexpr int ParamPomp1ValueOn = 169;
inline constexpr int ParamPomp1ValueOff = 171;
inline constexpr int ParamPomp3ValueOn = 173;
inline constexpr int ParamPomp3ValueOff = 175;
inline constexpr int UsedPomps = 182;
inline constexpr int Tfrost = 190;
inline constexpr int PeriodStat = 205;
inline constexpr int KlapPercent = 208;
}  // namespace rec

// Absolute address of circuit c's record (c = 0 or 1).
constexpr int CircuitRecordAddr(int c) {
    return addr::CircuitRecords + static_cast<int>(kCircuitRecordSize) * c;
}

// Absolute address of field `offset` of circuit c's record.
constexpr int CircuitField(int c, int offset) {
    return CircuitRecordAddr(c) + offset;
}

// Value graph k (0 = setpoint deviation, 1 = pumps 1 and 2, 2 = pumps 3 and 4) of circuit c.
inline constexpr int kScheduleSize = 128;
inline constexpr int kScheduleEntries = 32;
constexpr int ScheduleAddr(int c, int k) {
    return addr::Schedules + 384 * c + 128 * k;
}

// Archive memory.
namespace arch {
inline constexpr int EventLog = 0x00000;
inline constexpr int EventSlotSize = 16;
inline constexpr int EventSlots = 1024;
inline constexpr int Periodic = 0x04000;
inline constexpr int PeriodicSize = 0x1C000;  // 114688 bytes
inline constexpr int SampleSize = 12;
}  // namespace arch

// Stride of a periodic archive record and the number of slots, by circuit count.
constexpr int ArchiveStride(int numSystems) {
    return numSystems == 1 ? 16 : 32;
}
constexpr int ArchiveSlotCount(int numSystems) {
    return arch::PeriodicSize / ArchiveStride(numSystems);
}

// The area map fits together.
static_assert(CircuitRecordAddr(1) + kCircuitRecordSize == addr::Schedules);
static_assert(ScheduleAddr(1, 2) + kScheduleSize == addr::GsmMode);
static_assert(CircuitField(0, rec::PeriodStat) == addr::PeriodStat);
static_assert(ArchiveSlotCount(1) == 7168 && ArchiveSlotCount(2) == 3584);

}  // namespace vir05
