% A seeded sweep of random arguments through every command word: random types, shapes,
% NaN/Inf, huge and negative numbers, empty arrays, strings, cells and structs. Each call
% returns or raises an Octave error; Octave survives them all and the module stays usable.
% KEST_SWEEP_SEED repeats a run (the seed is printed); KEST_SWEEP_CALLS sets the number of
% calls (default 3000), KEST_SWEEP_TRACE prints each call before it is made. Runs over TCP with operator 130 added, so that "trial" is answered.
words = {'time', 'elec', 'stim', 'digin', 'spike', 'stimdata', 'spike-thresh', 'cont', ...
         'cont-adc', 'stimseq', 'trial', 'signal', 'signal-save', 'filter', 'digout', 'help', ...
         'fastsettle', 'adc2phys', 'lowcorner', 'addoper', 'impedance', 'ground', ...
         'reference', 'transceiver', 'battery', 'sensor', 'button', 'led', 'audio-tone', ...
         'processor-restart', 'version', 'processor-status', 'processor', 'close'};
assert(numel(unique(words)) == 34);

seed = str2double(getenv('KEST_SWEEP_SEED'));
if isnan(seed)
  seed = mod(floor(now() * 86400e3) + getpid(), 2^31);
end
calls = str2double(getenv('KEST_SWEEP_CALLS'));
if isnan(calls)
  calls = 3000;
end
printf('argument sweep: %d calls, seed %d (KEST_SWEEP_SEED=%d repeats it)\n', calls, seed, seed);
rand('twister', seed);
trace = ~isempty(getenv('KEST_SWEEP_TRACE'));

sweep_reopen();
% A sparse array holds only its nonzero values: refused wherever it stands.
sparse_text = 'sparse inputs are not supported; convert them with full()';
expect_error(sparse_text, 'signal-save', sparse([1 0 0 2]), 'raw');
expect_error(sparse_text, 'stimseq', struct('elec', 1, 'seq', struct('length', sparse(3))));
expect_error(sparse_text, 'filter', 'custom', 1, 'raw', struct('sos', {{sparse(1)}}));

warning('off', 'all');
errors = 0;
reopen_seconds = 0;
per_word = zeros(1, numel(words));
seconds = zeros(1, numel(words));
for n = 1:calls
  w = sweep_pick(numel(words));
  word = words{w};
  args = [{word}, sweep_args(word)];
  outputs = sweep_pick(0, 3);
  if trace
    printf('%d: %s with %d outputs\n', n, sweep_describe(args), outputs);
    fflush(stdout);
  elseif mod(n, 1000) == 0
    printf('%d calls\n', n);
    fflush(stdout);
  end
  started = tic;
  try
    sweep_call(args, outputs);
  catch err
    % Only an Octave error reaches here; a crash ends the process and fails the test.
    errors = errors + 1;
    if ~ischar(err.message)
      error('call %d: error without a message', n);
    end
  end
  seconds(w) = seconds(w) + toc(started);
  per_word(w) = per_word(w) + 1;
  if any(strcmp(word, {'close', 'processor-restart', 'processor'}))
    reopen_started = tic;
    sweep_reopen();
    reopen_seconds = reopen_seconds + toc(reopen_started);
  end
end
warning('on', 'all');

[~, slow] = sort(seconds, 'descend');
printf('%d calls, %d raised errors, %.1f s reopening; slowest words:', calls, errors, ...
       reopen_seconds);
printf(' %s %.1f s (%d),', [words(slow(1:5)); num2cell(seconds(slow(1:5))); ...
                            num2cell(per_word(slow(1:5)))]{:});
printf('\n');
assert(all(per_word > 0), 'every word was called');
assert(isa(kestmex('time'), 'double'), 'still usable after the sweep');
