// Constant tables of the G.726 codec.
#pragma once

#include <array>
#include <cstdint>

extern const std::int16_t G726_Rate2QuantThresh[2], G726_Rate2QuantVal[6], G726_Rate2DeQ[4],
    G726_Rate2functfTab[4], G726_Rate2functwTab[4], G726_Sync_Rate2_ThreshTab[2],
    G726_Sync_Rate2_mapk[6];
extern const std::int16_t G726_Rate3QuantThresh[4], G726_Rate3QuantVal[10], G726_Rate3DeQ[8],
    G726_Rate3functfTab[8], G726_Rate3functwTab[8], G726_Sync_Rate3_ThreshTab[4],
    G726_Sync_Rate3_mapk[10];
extern const std::int16_t G726_Rate4QuantThresh[8], G726_Rate4QuantVal[18], G726_Rate4DeQ[16],
    G726_Rate4functfTab[16], G726_Rate4functwTab[16], G726_Sync_Rate4_ThreshTab[8],
    G726_Sync_Rate4_mapk[18];
extern const std::int16_t G726_Rate5QuantThresh[16], G726_Rate5QuantVal[34], G726_Rate5DeQ[32],
    G726_Rate5functfTab[32], G726_Rate5functwTab[32], G726_Sync_Rate5_ThreshTab[16],
    G726_Sync_Rate5_mapk[34];

extern const std::array<std::int16_t, 256> G726_Ulaw2LinTab;
extern const std::array<std::int16_t, 256> G726_Alaw2LinTab;
extern const std::int16_t G726_Mu_law_syncTab[16 * 3];
extern const std::int16_t G726_A_law_syncTab[16 * 3];
