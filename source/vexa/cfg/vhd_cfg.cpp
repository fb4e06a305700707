// VHD configuration tables. Stacks list their services from the top (network side, index 0) to
// the bottom (line side); only the NET service is a core service.
#include "vhd_cfg.h"

#include "pve_codec.h"
#include "vhd/vhd.h"
#include "vhd_services.h"

namespace {

constexpr uint16_t kSwap = 1;
constexpr uint16_t kCore = 0;

const QRN_ServiceArchive voice_vbd_stack_svcarc[] = {
    {&rtparc, kSwap, HAPI_NET_SRV},       {&netsrvarc, kCore, HAPI_HOST_SRV},
    {&pvecodecarc, kSwap, HAPI_NET_SRV},  {&ptearc, kSwap, HAPI_NET_SRV},
    {&cdisarc, kSwap, HAPI_NET_SRV},      {&v21arc, kSwap, HAPI_CDIS_SRV},
    {&pcmarc, kSwap, HAPI_NET_SRV},       {&confbosarc, kSwap, HAPI_NET_SRV},
};

const QRN_ServiceArchive fax_stack_svcarc[] = {
    {&t38arc, kSwap, HAPI_NET_SRV},   {&netsrvarc, kCore, HAPI_HOST_SRV},
    {&faxrarc, kSwap, HAPI_NET_SRV},  {&v21arc, kSwap, HAPI_FAXR_SRV},
    {&vfxarc, kSwap, HAPI_FAXR_SRV},  {&confbosarc, kSwap, HAPI_NET_SRV},
};

const QRN_ServiceArchive voice_lite_stack_svcarc[] = {
    {&rtparc, kSwap, HAPI_NET_SRV},       {&netsrvarc, kCore, HAPI_HOST_SRV},
    {&pvecodecarc, kSwap, HAPI_NET_SRV},  {&ptearc, kSwap, HAPI_NET_SRV},
    {&cdisarc, kSwap, HAPI_NET_SRV},      {&v21arc, kSwap, HAPI_CDIS_SRV},
    {&pcmarc, kSwap, HAPI_NET_SRV},       {&confbosarc, kSwap, HAPI_NET_SRV},
};

const QRN_ServiceArchive pstn_stack_svcarc[] = {
    {&ptearc, kSwap, HAPI_HOST_SRV},       {&cdisarc, kSwap, HAPI_HOST_SRV},
    {&dtasarc, kSwap, HAPI_HOST_SRV},      {&clidrxsrvarc, kSwap, HAPI_HOST_SRV},
    {&cmtdarc, kSwap, HAPI_HOST_SRV},      {&confbosarc, kSwap, HAPI_NET_SRV},
};

const QRN_ServiceArchive line_ecan_stack_svcarc[] = {
    {&conftosarc, kSwap, HAPI_HOST_SRV},   {&ptearc, kSwap, HAPI_HOST_SRV},
    {&cmtdarc, kSwap, HAPI_HOST_SRV},      {&clidtxsrvarc, kSwap, HAPI_HOST_SRV},
    {&ecanarc, kSwap, HAPI_HOST_SRV},      {&linearc, kSwap, HAPI_HOST_SRV},
    {&confbosarc, kSwap, HAPI_HOST_SRV},
};

template <size_t N>
constexpr uint16_t count(const QRN_ServiceArchive (&)[N]) {
  return static_cast<uint16_t>(N);
}

const QRN_StackArchive gateway_stacks[] = {
    {HAPI_VOICE_STACK, 80, voice_vbd_stack_svcarc, count(voice_vbd_stack_svcarc)},
    {HAPI_FAX_STACK, 80, fax_stack_svcarc, count(fax_stack_svcarc)},
};
const QRN_StackArchive conf_stacks[] = {
    {HAPI_VOICE_STACK, 80, voice_lite_stack_svcarc, count(voice_lite_stack_svcarc)},
};
const QRN_StackArchive pstn_stacks[] = {
    {HAPI_PSTN_STACK, 40, pstn_stack_svcarc, count(pstn_stack_svcarc)},
};
const QRN_StackArchive line_ecan_stacks[] = {
    {HAPI_LINE_ECAN_STACK, 80, line_ecan_stack_svcarc, count(line_ecan_stack_svcarc)},
};

// The codec service's instance follows the codec library's state sizes, known at start-up: the
// heaps laid out for an 88360-byte instance grow by what it needs beyond that.
uint32_t withCodec(uint32_t heap) { return heap - 88360 + codecInstanceBytes(codecHeavyPoolWords()); }

}  // namespace

const QRN_SocketConfig gateway_socketcfg = {
    28000, withCodec(130000), gateway_stacks, 2, HAPI_VOICE_STACK, 0, 0x1902, 0x261B, 400, 400, 3600, 3600};
const QRN_SocketConfig conf_socketcfg = {
    22200, withCodec(110000), conf_stacks, 1, HAPI_VOICE_STACK, 0, 0x1802, 0x2608, 400, 400, 880, 880};
const QRN_SocketConfig pstn_socketcfg = {
    512, 5000, pstn_stacks, 1, HAPI_PSTN_STACK, 0, 0x3, 0x608, 400, 400, 1360, 1360};
const QRN_SocketConfig line_ecan_socketcfg = {2048, 10000, line_ecan_stacks, 1,
                                              HAPI_LINE_ECAN_STACK, HAPI_VHDOPT_DEFAULT_WIDEBAND,
                                              0x602, 0x680, 400, 400, 880, 880};

const VHD_Archive VHD_gDefaultArchive[VHD_NUM_DEFAULT_ARCHIVES] = {
    {HAPI_GATEWAY_VHD, 2, &gateway_socketcfg},
    {HAPI_CONFERENCE_VHD, 2, &conf_socketcfg},
    {HAPI_PSTN_VHD, 2, &pstn_socketcfg},
    {HAPI_LINE_ECAN_VHD, 1, &line_ecan_socketcfg},
};
