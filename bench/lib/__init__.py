"""What the figures of bench/run share: the helpers in the lab's namespaces,
the lab itself, the order of interleaved runs and the printed table."""
