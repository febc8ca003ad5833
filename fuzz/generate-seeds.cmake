# Writes the seeds that are too big to keep in the repository: cmake -DOUT=<dir> -P generate-seeds.cmake
if(NOT OUT)
  message(FATAL_ERROR "usage: cmake -DOUT=<dir> -P generate-seeds.cmake")
endif()

string(REPEAT "[" 100000 open)
string(REPEAT "]" 100000 close)
string(REPEAT "9" 100000 nines)
string(REPEAT "0" 100000 zeros)
string(REPEAT "{\"a\":" 100000 open_objects)
string(REPEAT "}" 100000 close_objects)
set(tier "{\"price\":\"1\"}")
set(tiers "\"low\":${tier},\"standard\":${tier},\"fast\":${tier}")
set(chain "\"chain\":{\"chain_type\":\"EVM\"}")

function(seed target name content)
  file(WRITE ${OUT}/${target}/${name} "${content}")
endfunction()

seed(fuzz_gas_price_reply nested-arrays "{\"code\":0,\"data\":${open}${close}}")
seed(fuzz_gas_price_reply nested-objects "{\"code\":0,\"data\":{${tiers},\"x\":${open_objects}1${close_objects}}}")
seed(fuzz_gas_price_reply long-code "{\"code\":${nines},\"data\":null}")
seed(fuzz_gas_price_reply long-negative-code "{\"code\":-${nines},\"data\":null}")
seed(fuzz_gas_price_reply long-time "{\"code\":0,\"data\":{${tiers},\"base\":{\"price\":\"1\",\"time\":1${zeros}}}}")
seed(fuzz_gas_price_reply long-price "{\"code\":0,\"data\":{${tiers},\"base\":{\"price\":\"${nines}\"}}}")

seed(fuzz_token_price_reply nested-arrays "{\"code\":0,\"data\":{\"prices\":${open}${close}}}")
seed(fuzz_token_price_reply long-price
  "{\"code\":0,\"data\":{\"prices\":[{${chain},\"tokens\":[{\"symbol\":\"ETH\",\"last_price\":\"${nines}\"}]}]}}")
seed(fuzz_token_price_reply long-code "{\"code\":1${zeros},\"message\":\"x\"}")

seed(fuzz_decimal long-integer "${nines}")
seed(fuzz_decimal long-fraction "-0.${zeros}1")
seed(fuzz_decimal long-trailing-zeros "1${zeros}")
seed(fuzz_decimal long-shift "1${zeros}@-4096")

seed(fuzz_wei_to_gwei long-integer "${nines}")
seed(fuzz_wei_to_gwei long-zeros "${zeros}")
seed(fuzz_wei_to_gwei long-trailing-zeros "1${zeros}")

seed(fuzz_defaults_file nested-arrays "{\"a\":${open}${close}}")
seed(fuzz_defaults_file nested-objects "{\"a\":${open_objects}1${close_objects}}")
seed(fuzz_defaults_file long-number "{\"a\":${nines}}")
seed(fuzz_defaults_file long-string "{\"${nines}\":\"${zeros}\"}")
