// The process variables the panel itself reads and writes, by their names in the runtime. Indexed names
// are a base text, the index in decimal digits (no sign, no blanks) and ">". The counts of machines and
// display slots are those of the line display (line_display.h).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace orvanta::vars {

inline constexpr std::string_view kLiABits = "Ch-1.int_linie<.li_a_bits>";
inline constexpr std::string_view kLiBSprung = "Ch-1.int_linie<.li_b_sprung>";
inline constexpr std::string_view kLiStatus = "Ch-1.int_linie<.li_status>";
inline constexpr std::string_view kLiClientOk = "Ch-1.int_linie<.li_client_ok>";
inline constexpr std::string_view kLiHStatus = "Ch-1.int_linie<.li_h_status>";
inline constexpr std::string_view kLiHMasch = "Ch-1.int_linie<.li_h_masch>";
inline constexpr std::string_view kLiHNummer = "Ch-1.int_linie<.li_h_nummer>";
inline constexpr std::string_view kLiLFault = "Ch-1.int_linie<.li_l_fault>";
inline constexpr std::string_view kLiLAlarmNo = "Ch-1.int_linie<.li_l_alarmno>";
inline constexpr std::string_view kLiLAlarmT = "Ch-1.int_linie<.li_l_alarmt>";
inline constexpr std::string_view kLiLSensor1 = "Ch-1.int_linie<.li_l_sensor1>";
inline constexpr std::string_view kLiLSensor2 = "Ch-1.int_linie<.li_l_sensor2>";
inline constexpr std::string_view kLiLNeu = "Ch-1.int_linie<.li_l_neu>";
inline constexpr std::string_view kLiNeuG = "Ch-1.int_linie<.li_neu_g>";
inline constexpr std::string_view kLiNeuP = "Ch-1.int_linie<.li_neu_p>";
inline constexpr std::string_view kLiNeuS = "Ch-1.int_linie<.li_neu_s>";
inline constexpr std::string_view kLiLebenHi = "Ch-1.int_linie<.li_leben_hi>";
inline constexpr std::string_view kLiLebenZu = "Ch-1.int_linie<.li_leben_zu>";

inline constexpr std::string_view kLiGFontCh = "Ch-1.int_linie_g<.li_g_fontch>";
inline constexpr std::string_view kLiGFontNa = "Ch-1.int_linie_g<.li_g_fontna>";
inline constexpr std::string_view kLiGGrupNaBase = "Ch-1.int_linie_g<.li_g_grupna";  // + 0..5 + ">"
inline constexpr std::string_view kLiGStatus = "Ch-1.int_linie_g<.li_g_status>";  // kLineSlotCount elements

inline constexpr std::string_view kLiPEnable = "Ch-1.int_linie_p<.li_p_enable>";  // kLineMachineCount each
inline constexpr std::string_view kLiPSymbol = "Ch-1.int_linie_p<.li_p_symbol>";
inline constexpr std::string_view kLiPFremd = "Ch-1.int_linie_p<.li_p_fremd>";
inline constexpr std::string_view kLiPFern = "Ch-1.int_linie_p<.li_p_fern>";
inline constexpr std::string_view kLiPMaNameBase = "Ch-1.int_linie_p<.li_p_maname";  // + 0..63 + ">"
inline constexpr std::string_view kLiPCoNameBase = "Ch-1.int_linie_p<.li_p_coname";  // + 0..63 + ">"

inline constexpr std::string_view kLiSCharset = "Ch-1.int_linie_s<.li_s_charset>";  // kLineMachineCount each
inline constexpr std::string_view kLiSStatus = "Ch-1.int_linie_s<.li_s_status>";
inline constexpr std::string_view kLiSMessageBase = "Ch-1.int_linie_s<.li_s_message";  // + 0..63 + ">"
inline constexpr std::string_view kLiSFontBase = "Ch-1.int_linie_s<.li_s_font";        // + 0..63 + ">"

inline constexpr std::string_view kLiStatusPlcBase = "Ch1.T_zyk_linie<.li_statusplc0";  // + machine + ">"
inline constexpr std::string_view kLiBildSprung = "Ch1.T_zyk_linie<.li_bildsprung>";
inline constexpr std::string_view kSprache = "Ch-1.param_client<.sprache>";

// base followed by index in decimal digits and ">".
inline std::string indexed(std::string_view base, std::int32_t index) {
    std::string name(base);
    name += std::to_string(index);
    name += '>';
    return name;
}

}  // namespace orvanta::vars
