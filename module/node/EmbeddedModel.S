/* The embedded end-of-turn model, placed whole in read-only data at build
   time. VEYRA_EMBEDDED_MODEL_FILE names the model file (a quoted path). */
    .section .rodata
    .balign 64
    .globl kEmbeddedModelData
    .hidden kEmbeddedModelData
    .type kEmbeddedModelData, @object
kEmbeddedModelData:
    .incbin VEYRA_EMBEDDED_MODEL_FILE
    .size kEmbeddedModelData, . - kEmbeddedModelData

    .section .note.GNU-stack,"",@progbits
