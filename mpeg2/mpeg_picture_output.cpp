#include "mpeg2/mpeg_picture_output.h"

#include "mpeg2/mpeg_decoder_control.h"
#include "mpeg2/mpeg_decoder_thread.h"

MpegPictureSink gMpegPictureSink;
std::atomic<int> gMpegPreviewFrameNumber{0};

void StoreFrame(const uint8_t *const planes[3], const MpegPictureRecord &record, int pictureIndex)
{
    int fault = gMpegDecoderControl.faultCode.load();
    if (fault >= kMpegFaultRunEnds) {
        CloseOutputs();
        ExitMpegDecoderThread();
    }
    if (fault != 0) {
        gMpegDecoderControl.faultCode = 0; // the picture is used as decoded
    }
    if (gMpegPictureSink.prepareFrame) {
        gMpegPictureSink.prepareFrame(planes, record, pictureIndex);
    }
}

void CloseOutputs()
{
    if (gMpegPictureSink.closeOutputs) {
        gMpegPictureSink.closeOutputs();
    }
    gMpegDecoderControl.processingMode = 0;
}
