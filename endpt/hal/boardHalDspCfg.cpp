// The capabilities of the board's DSP as reported to the endpoint library.

#include "boardHal.h"
#include "voiceLog.h"

void boardHalDspGetCfg(BOARD_HAL_DSP_CFG* cfg) {
  if (cfg == nullptr) return;
  const CODEC_TYPE supported[] = {
      CODEC_PCMU,        CODEC_PCMA,         CODEC_G726_16,   CODEC_G726_24,
      CODEC_G726_32,     CODEC_G726_40,      CODEC_G7231_53,  CODEC_G7231_63,
      CODEC_G7231_53_VAR, CODEC_G7231_63_VAR, CODEC_G7231_VAR, CODEC_G729A,
      CODEC_G729B,       CODEC_G729,         CODEC_NTE,       CODEC_ILBC_20,
      CODEC_ILBC_30,     CODEC_T38,          CODEC_T38_MUTE,  CODEC_RED,
      CODEC_G722_MODE_1, CODEC_LINPCM128};
  const CODEC_TYPE unsupported[] = {CODEC_G728,     CODEC_G729E,     CODEC_BV32,
                                    CODEC_LINPCM64, CODEC_LINPCM256, CODEC_CLEARCHANNEL};
  for (CODEC_TYPE codec : supported) cfg->codecCapabilities[codec] = CODEC_SUPPORTED;
  for (int codec = CODEC_GSMAMR_12K; codec <= CODEC_AMRWB_OA_2385; ++codec) {
    cfg->codecCapabilities[codec] = CODEC_SUPPORTED;
  }
  for (CODEC_TYPE codec : unsupported) cfg->codecCapabilities[codec] = CODEC_UNSUPPORTED;
  cfg->isWidebandEnabled = 1;
  cfg->frameSyncSamples = 40;
  cfg->maxEndPts = 8;
  cfg->maxFullCnxs = 8;
  cfg->maxLiteCnxs = 8;
  cfg->maxRfc2198Level = 2;
  cfg->vbdCapability = 3;
  cfg->gplcSupport = 1;
  cfg->bvcSupport = 1;
  cfg->isEquEnabled = 1;
}

void boardHalDspDisplayCfg(void) {
  BOARD_HAL_DSP_CFG cfg{};
  boardHalDspGetCfg(&cfg);
  const uint8_t* c = cfg.codecCapabilities;
  auto line = [](const char* name, int value) {
    voiceLog(VOICE_MODULE_DSPHAL, VOICE_LOGLEVEL_INFO, "\t%-*s %d\n", 15, name, value);
  };
  voiceLog(VOICE_MODULE_DSPHAL, VOICE_LOGLEVEL_INFO, "DSP build date: %s\n", __DATE__);
  voiceLog(VOICE_MODULE_DSPHAL, VOICE_LOGLEVEL_INFO, "Capabilities:\n");
  line("G.711:", c[CODEC_PCMU]);
  line("G.722:", c[CODEC_G722_MODE_1]);
  line("G.723.1a:", c[CODEC_G7231_53]);  // Annex A rides on the G.723.1 coder
  line("G.723.1:", c[CODEC_G7231_53]);
  line("G.726:", c[CODEC_G726_32]);
  line("G.728:", c[CODEC_G728]);
  line("G.729:", c[CODEC_G729]);
  line("G.729A:", c[CODEC_G729A]);
  line("G.729B:", c[CODEC_G729B]);
  line("G.729E:", c[CODEC_G729E]);
  line("BV32:", c[CODEC_BV32]);
  line("LINPCM64:", c[CODEC_LINPCM64]);
  line("LINPCM128:", c[CODEC_LINPCM128]);
  line("LINPCM256:", c[CODEC_LINPCM256]);
  line("iLBC:", c[CODEC_ILBC_20]);
  line("AMR:", c[CODEC_GSMAMR_12K]);
  line("EFR:", c[CODEC_GSMEFR]);
  line("FR:", c[CODEC_GSMFR]);
  line("HR:", c[CODEC_GSMHR]);
  line("AMRWB:", c[CODEC_AMRWB_66]);
  line("T.38:", c[CODEC_T38]);
  line("Wideband:", cfg.isWidebandEnabled);
  line("GPLC:", cfg.gplcSupport);
  line("BVC:", cfg.bvcSupport);
  voiceLog(VOICE_MODULE_DSPHAL, VOICE_LOGLEVEL_INFO, "\tFrame rate:           %d ms\n", 5);
  voiceLog(VOICE_MODULE_DSPHAL, VOICE_LOGLEVEL_INFO, "\tMax line vhds:        %d\n", cfg.maxEndPts);
  voiceLog(VOICE_MODULE_DSPHAL, VOICE_LOGLEVEL_INFO, "\tMax full connections: %d\n", cfg.maxFullCnxs);
  voiceLog(VOICE_MODULE_DSPHAL, VOICE_LOGLEVEL_INFO, "\tMax lite connections: %d\n", cfg.maxLiteCnxs);
}
