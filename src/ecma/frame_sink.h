// Where an engine of the hearing model hands its finished frames: one call
// per frame, in order from frame 0, with the frame's values in the engine's
// per-frame layout. A one-shot analysis places them in the caller's array;
// a stream queues them until the caller reads them. Taking a frame cannot
// fail: whoever receives frames has made room for them beforehand.
#ifndef QN_ECMA_FRAME_SINK_H
#define QN_ECMA_FRAME_SINK_H

struct qn_ecma_frame_sink {
    void (*put)(void *context, const double *values) noexcept;
    void *context;
};

#endif
