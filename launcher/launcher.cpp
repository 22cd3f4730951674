// The launcher library: filled by the launcher work.
