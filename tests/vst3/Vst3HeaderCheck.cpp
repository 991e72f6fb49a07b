// vst3.h stands on its own, and agrees with the independent C declarations
// Debian's dpf-source ships on every record size and identifier both declare.
#include "travesty/audio_processor.h"
#include "travesty/component.h"
#include "travesty/edit_controller.h"
#include "travesty/events.h"
#include "travesty/factory.h"
#include "travesty/host.h"
#include "travesty/message.h"
#include "travesty/unit.h"
#include "vst3.h"

namespace {

using namespace vst3;
using namespace vst3::Vst;

constexpr bool Same(const Iid& ours, const v3_tuid theirs) {
  for (size_t i = 0; i < ours.size(); ++i) {
    if (static_cast<uint8_t>(ours[i]) != theirs[i]) return false;
  }
  return true;
}

static_assert(Same(FUnknown::iid, v3_funknown_iid) && Same(IPluginBase::iid, v3_plugin_base_iid) &&
              Same(IPluginFactory::iid, v3_plugin_factory_iid) && Same(IPluginFactory2::iid, v3_plugin_factory_2_iid) &&
              Same(IPluginFactory3::iid, v3_plugin_factory_3_iid) && Same(IBStream::iid, v3_bstream_iid));
static_assert(Same(IComponent::iid, v3_component_iid) && Same(IAudioProcessor::iid, v3_audio_processor_iid) &&
              Same(IProcessContextRequirements::iid, v3_process_context_requirements_iid) &&
              Same(IEditController::iid, v3_edit_controller_iid) && Same(IUnitInfo::iid, v3_unit_information_iid));
static_assert(Same(IComponentHandler::iid, v3_component_handler_iid) &&
              Same(IComponentHandler2::iid, v3_component_handler2_iid) &&
              Same(IConnectionPoint::iid, v3_connection_point_iid) && Same(IMessage::iid, v3_message_iid) &&
              Same(IAttributeList::iid, v3_attribute_list_iid) && Same(IHostApplication::iid, v3_host_application_iid));
static_assert(Same(IParamValueQueue::iid, v3_param_value_queue_iid) &&
              Same(IParameterChanges::iid, v3_param_changes_iid) && Same(IEventList::iid, v3_event_list_iid));

static_assert(sizeof(PFactoryInfo) == sizeof(v3_factory_info));
static_assert(sizeof(PClassInfo) == sizeof(v3_class_info));
static_assert(sizeof(PClassInfo2) == sizeof(v3_class_info_2));
static_assert(sizeof(PClassInfoW) == sizeof(v3_class_info_3));
static_assert(sizeof(BusInfo) == sizeof(v3_bus_info) && offsetof(BusInfo, flags) == offsetof(v3_bus_info, flags));
static_assert(sizeof(RoutingInfo) == sizeof(v3_routing_info));
static_assert(sizeof(ParameterInfo) == sizeof(v3_param_info) &&
              offsetof(ParameterInfo, defaultNormalizedValue) == offsetof(v3_param_info, default_normalised_value));
static_assert(sizeof(ProcessSetup) == sizeof(v3_process_setup));
static_assert(sizeof(AudioBusBuffers) == sizeof(v3_audio_bus_buffers));
static_assert(sizeof(ProcessData) == sizeof(v3_process_data) &&
              offsetof(ProcessData, processContext) == offsetof(v3_process_data, ctx));
static_assert(sizeof(ProcessContext) == sizeof(v3_process_context) &&
              offsetof(ProcessContext, samplesToNextClock) == offsetof(v3_process_context, samples_to_next_clock));
static_assert(sizeof(UnitInfo) == sizeof(v3_unit_info));
static_assert(sizeof(ProgramListInfo) == sizeof(v3_program_list_info));
static_assert(sizeof(Event) == sizeof(v3_event));

static_assert(kResultOk == V3_OK && kResultFalse == V3_FALSE &&
              kInvalidArgument == static_cast<tresult>(V3_INVALID_ARG) &&
              kNotImplemented == static_cast<tresult>(V3_NOT_IMPLEMENTED) &&
              kNoInterface == static_cast<tresult>(V3_NO_INTERFACE));
static_assert(int32{ParameterInfo::kIsBypass} == V3_PARAM_IS_BYPASS &&
              int32{ParameterInfo::kIsProgramChange} == V3_PARAM_PROGRAM_CHANGE);
static_assert(int32{kParamValuesChanged} == V3_RESTART_PARAM_VALUES_CHANGED &&
              int32{kLatencyChanged} == V3_RESTART_LATENCY_CHANGED);
static_assert(SpeakerArr::kStereo == (V3_SPEAKER_L | V3_SPEAKER_R) && SpeakerArr::kMono == V3_SPEAKER_M);

}  // namespace
