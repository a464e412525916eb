# The libFuzzer target over the engine.
